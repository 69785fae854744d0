// The registry's entry parser and the way failures show paths.
//  - Any content gives either nothing or a library value that is trimmed,
//    one line and not empty.
//  - A path the layer would write comes back from the entry it writes,
//    also behind comments, other keys, CR LF and another case of the key.
//  - A path shown in a failure text is short however long the path.

#include <cstdint>
#include <string>
#include <string_view>

#include "com/registry.h"
#include "com/safe_path.h"
#include "fuzz_check.h"

using namespace monvia::com;

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (const auto library = parse_entry(text)) {
        const std::string value = library->string();
        FUZZ_CHECK(!value.empty());
        FUZZ_CHECK(!blank(value.front()) && !blank(value.back()));
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        FUZZ_CHECK(text.find(value) != std::string::npos);
    }

    // The text as a library path, as write_entry would store it.
    const bool writable = !text.empty() &&
                          text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos &&
                          !blank(text.front()) && !blank(text.back());
    if (writable) {
        for (const std::string& entry :
             {"library=" + text + "\n",
              "# comment\n\nthreading=both\r\nLIBRARY = " + text + "\r\nlibrary=/second/one\n"}) {
            const auto library = parse_entry(entry);
            FUZZ_CHECK(library && library->string() == text);
        }
    }

    const std::string shown = shown_path(text);
    FUZZ_CHECK(shown.size() <= 160 + 40);
    FUZZ_CHECK(text.size() > 160 || shown == "\"" + text + "\"");
    return 0;
}
