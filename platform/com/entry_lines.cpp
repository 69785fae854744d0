// The line walk of registration entry files, shared by the class registry
// and by every other reader of entries, so that they agree on what an entry
// says.

#include <algorithm>
#include <cctype>
#include <sstream>

#include "com/registry.h"

namespace fs = std::filesystem;

namespace monvia::com {
namespace {

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

}  // namespace

void for_each_entry_line(std::string_view content,
                         const std::function<bool(const std::string& key, const std::string& value)>& visit) {
    std::istringstream lines{std::string(content)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::string t = trimmed(line);
        if (t.empty() || t.front() == '#') continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trimmed(std::string_view(t).substr(0, eq));
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!visit(key, trimmed(std::string_view(t).substr(eq + 1)))) return;
    }
}

std::optional<fs::path> parse_entry(std::string_view content) {
    std::optional<fs::path> library;
    for_each_entry_line(content, [&library](const std::string& key, const std::string& value) {
        if (key != "library") return true;
        if (!value.empty()) library = fs::path(value);
        return false;
    });
    return library;
}

}  // namespace monvia::com
