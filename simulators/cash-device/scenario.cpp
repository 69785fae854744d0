#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace monvia::cashsim {

namespace {

constexpr const char* kNames[kMemberCount + 1] = {
    "",
    "get_LastErrorCode",
    "put_LastErrorCode",
    "get_LastErrorText",
    "put_LastErrorText",
    "get_ColorA",
    "put_ColorA",
    "get_ColorB",
    "put_ColorB",
    "get_Host",
    "put_Host",
    "Connect",
    "Disconnect",
    "Change",
    "AddChange",
    "Pay",
    "Charge",
    "CashBoxControl",
    "Configuration",
    "GetAmounts",
    "EmptyCashBox",
    "GetLevels",
    "HandleError",
    "get_Connected",
    "PaySpecific",
};

// A property name stands for both of its accessors.
const struct {
    const char* name;
    std::vector<int> slots;
} kProperties[] = {
    {"LastErrorCode", {kGetLastErrorCode, kPutLastErrorCode}},
    {"LastErrorText", {kGetLastErrorText, kPutLastErrorText}},
    {"ColorA", {kGetColorA, kPutColorA}},
    {"ColorB", {kGetColorB, kPutColorB}},
    {"Host", {kGetHost, kPutHost}},
    {"Connected", {kGetConnected}},
};

constexpr size_t kMaxFileSize = 1024 * 1024;

// A token quoted in an error is cut at this many bytes (and marked with an
// ellipsis), so that a huge bad token cannot turn the message into a wall.
constexpr size_t kMaxQuoted = 40;

// The token as an error shows it: cut to kMaxQuoted bytes, at a character
// boundary, with "…" when cut.
std::string excerpt(std::string_view token) {
    if (token.size() <= kMaxQuoted) return std::string(token);
    size_t cut = kMaxQuoted;
    // Off the middle of a UTF-8 character: back by at most three bytes.
    for (int k = 0; k < 3 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80; ++k) --cut;
    return std::string(token.substr(0, cut)) + "\xE2\x80\xA6";
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::vector<int>> slots_named(std::string_view name) {
    for (int s = 1; s <= kMemberCount; ++s)
        if (same_name(name, kNames[s])) return std::vector<int>{s};
    for (const auto& p : kProperties)
        if (same_name(name, p.name)) return p.slots;
    return std::nullopt;
}

struct Token {
    std::string text;
    size_t eq = std::string::npos;  // first '=' outside quotes
    bool quoted = false;
};

class LineError {
public:
    explicit LineError(std::string m) : message(std::move(m)) {}
    std::string message;
};

// Splits a line into blank-separated tokens. Double quotes group blanks into
// a token; inside them \" and \\ stand for a quote and a backslash. A token
// starting with '#' outside quotes begins a comment.
std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        Token t;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            const char c = line[i];
            if (c == '"') {
                t.quoted = true;
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char q = line[i++];
                    if (q == '"') {
                        closed = true;
                        break;
                    }
                    if (q == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) q = line[i++];
                    t.text.push_back(q);
                }
                if (!closed) throw LineError("a quoted text is not closed");
                continue;
            }
            if (c == '=' && t.eq == std::string::npos) t.eq = t.text.size();
            t.text.push_back(c);
            ++i;
        }
        out.push_back(std::move(t));
    }
    return out;
}

std::optional<int64_t> parse_integer(std::string_view s, bool allow_hex) {
    if (s.empty()) return std::nullopt;
    bool negative = false;
    size_t i = 0;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        ++i;
    }
    int base = 10;
    if (allow_hex && s.size() > i + 1 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > (int64_t{1} << 40)) return std::nullopt;  // far beyond any value accepted here
    }
    return negative ? -v : v;
}

Rule parse_rule(const std::vector<Token>& tokens) {
    Rule rule;
    const Token& head = tokens.front();
    if (head.quoted || head.eq != std::string::npos)
        throw LineError("a rule starts with a member name, as in \"Charge\" or \"Charge#2\"");
    rule.selector = head.text;
    std::string_view name = head.text;
    if (const auto hash = name.find('#'); hash != std::string_view::npos) {
        const auto n = parse_integer(name.substr(hash + 1), false);
        if (!n || *n < 1 || *n > UINT32_MAX || name[hash + 1] == '+' || name[hash + 1] == '-')
            throw LineError("\"" + excerpt(head.text) +
                            "\": the call number after '#' must be a whole number from 1");
        rule.call = static_cast<uint32_t>(*n);
        name = name.substr(0, hash);
    }
    auto slots = slots_named(name);
    if (!slots) throw LineError("unknown member \"" + excerpt(name) + "\"");
    rule.slots = *slots;

    Effect& e = rule.effect;
    std::vector<std::string> seen;
    auto once = [&](const std::string& key) {
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            throw LineError(excerpt(key) + " is given twice");
        seen.push_back(key);
    };
    bool has_code = false, has_text = false, has_description = false;
    for (size_t i = 1; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.eq == std::string::npos) {
            if (t.quoted) throw LineError("\"" + excerpt(t.text) + "\" is not an effect");
            const std::string word = t.text;
            if (same_name(word, "false")) {
                once("false");
                e.returns_false = true;
            } else if (same_name(word, "unset")) {
                once("unset");
                e.leave_outputs = true;
            } else {
                throw LineError("unknown effect \"" + excerpt(word) +
                                "\"; known: false, unset, code=, text=, hresult=, "
                                "description=, delay=");
            }
            continue;
        }
        std::string key = t.text.substr(0, t.eq);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::string value = t.text.substr(t.eq + 1);
        once(key + "=");
        if (key == "code") {
            const auto v = parse_integer(value, false);
            if (!v || *v < INT16_MIN || *v > INT16_MAX)
                throw LineError("code=" + excerpt(value) + ": a code is a whole number from -32768 to 32767");
            e.code = static_cast<int16_t>(*v);
            has_code = true;
        } else if (key == "text") {
            e.text = value;
            has_text = true;
        } else if (key == "hresult") {
            const auto v = parse_integer(value, true);
            if (!v || *v < INT32_MIN || *v > UINT32_MAX)
                throw LineError("hresult=" + excerpt(value) + ": not a 32-bit status such as 0x80004005");
            const auto h = static_cast<int32_t>(static_cast<uint32_t>(*v & 0xFFFFFFFF));
            if (h >= 0)
                throw LineError("hresult=" + excerpt(value) +
                                ": the status must be a failing one (0x80000000 and up)");
            e.hresult = h;
        } else if (key == "description") {
            e.description = value;
            has_description = true;
        } else if (key == "delay") {
            const auto v = parse_integer(value, false);
            if (!v || *v < 0 || *v > Scenario::kMaxDelayMs || value[0] == '+' || value[0] == '-')
                throw LineError("delay=" + excerpt(value) +
                                ": a delay is a whole number of milliseconds from 0 to " +
                                std::to_string(Scenario::kMaxDelayMs));
            e.delay_ms = static_cast<uint32_t>(*v);
        } else {
            throw LineError("unknown effect \"" + excerpt(key) +
                            "=\"; known: false, unset, code=, text=, hresult=, "
                            "description=, delay=");
        }
    }

    if (seen.empty())
        throw LineError(excerpt(rule.selector) + ": nothing to do; give false, hresult=, unset or delay=");
    if ((has_code || has_text) && !e.returns_false) throw LineError("code= and text= go with false");
    if (has_description && !e.hresult) throw LineError("description= goes with hresult=");
    if (e.hresult && (e.returns_false || e.leave_outputs))
        throw LineError("hresult= fails the call before it runs; it cannot be combined with false or unset");
    for (int s : rule.slots) {
        if (e.returns_false && !member_has_result(s))
            throw LineError(std::string(kNames[s]) +
                            " has no Boolean result; false is not possible there (hresult= is)");
        if (e.leave_outputs && !member_has_outputs(s))
            throw LineError(std::string(kNames[s]) + " has no outputs to leave unset");
    }
    return rule;
}

}  // namespace

const char* member_name(int slot) { return slot >= 1 && slot <= kMemberCount ? kNames[slot] : "?"; }

bool member_has_result(int slot) {
    switch (slot) {
        case kConnect:
        case kChange:
        case kAddChange:
        case kPay:
        case kCharge:
        case kCashBoxControl:
        case kConfiguration:
        case kGetAmounts:
        case kEmptyCashBox:
        case kGetLevels:
        case kHandleError:
        case kPaySpecific:
            return true;
        default:
            return false;
    }
}

bool member_has_outputs(int slot) {
    switch (slot) {
        case kGetLastErrorCode:
        case kGetLastErrorText:
        case kGetColorA:
        case kGetColorB:
        case kGetHost:
        case kGetConnected:
        case kChange:
        case kAddChange:
        case kPay:
        case kCharge:
        case kCashBoxControl:
        case kGetAmounts:
        case kEmptyCashBox:
        case kGetLevels:
        case kHandleError:
        case kPaySpecific:
            return true;
        default:
            return false;
    }
}

Scenario Scenario::parse(std::string_view text, const std::string& origin) {
    Scenario sc;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int line_no = 0;
    size_t pos = 0;
    for (;;) {
        ++line_no;
        const auto nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        try {
            if (line.find('\0') != std::string_view::npos) throw LineError("the line holds a NUL byte");
            const auto tokens = tokenize(line);
            if (!tokens.empty()) {
                Rule rule = parse_rule(tokens);
                rule.line = line_no;
                for (int s : rule.slots) {
                    if (auto it = sc.index_.find({s, rule.call}); it != sc.index_.end())
                        throw LineError(excerpt(rule.selector) + " repeats the rule of line " +
                                        std::to_string(sc.rules_[it->second].line) + " for " + kNames[s]);
                }
                for (int s : rule.slots) sc.index_[{s, rule.call}] = sc.rules_.size();
                sc.rules_.push_back(std::move(rule));
            }
        } catch (const LineError& e) {
            throw ScenarioError(origin + ": line " + std::to_string(line_no) + ": " + e.message);
        }
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    return sc;
}

namespace {

#ifdef _WIN32
// The file's content, up to one byte past the cap. Windows has no FIFOs or
// devices in the file system a path can name, so a check of the type is
// enough before reading.
std::string read_regular_file(const std::filesystem::path& file, const std::string& origin) {
    std::error_code ec;
    const auto st = std::filesystem::status(file, ec);
    if (std::filesystem::is_directory(st)) throw ScenarioError(origin + " is a directory");
    if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
        throw ScenarioError(origin + " is not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ScenarioError(origin + " cannot be read: " + std::strerror(errno));
    std::string content(kMaxFileSize + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad()) throw ScenarioError(origin + " cannot be read");
    content.resize(static_cast<size_t>(in.gcount()));
    return content;
}
#else
// The file's content, up to one byte past the cap. Opened without blocking
// and checked before reading: a FIFO with no writer, or a device, would
// otherwise hold the instance's creation (and the program waiting for it)
// forever.
std::string read_regular_file(const std::filesystem::path& file, const std::string& origin) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw ScenarioError(origin + " cannot be read: " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw ScenarioError(origin + " cannot be read: " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw ScenarioError(origin + " is a directory");
    if (!S_ISREG(st.st_mode)) throw ScenarioError(origin + " is not a regular file");
    if (static_cast<uintmax_t>(st.st_size) > kMaxFileSize)
        throw ScenarioError(origin + " is larger than 1 MiB");
    std::string content(kMaxFileSize + 1, '\0');  // the file may have grown since fstat
    size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ScenarioError(origin + " cannot be read: " + std::strerror(errno));
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    return content;
}
#endif

}  // namespace

Scenario Scenario::load(const std::filesystem::path& file) {
    const std::string origin = "Scenario file \"" + file.string() + "\"";
    const std::string content = read_regular_file(file, origin);
    if (content.size() > kMaxFileSize) throw ScenarioError(origin + " is larger than 1 MiB");
    return parse(content, origin);
}

const Effect* Scenario::effect_for(int slot, uint32_t call) const {
    if (auto it = index_.find({slot, call}); call != 0 && it != index_.end())
        return &rules_[it->second].effect;
    if (auto it = index_.find({slot, 0u}); it != index_.end()) return &rules_[it->second].effect;
    return nullptr;
}

}  // namespace monvia::cashsim
