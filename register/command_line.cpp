#include "command_line.h"

#include "register_command.h"

namespace monvia::reg {

com::Guid parse_class(const std::string& text) {
    if (auto g = com::parse_guid(text)) return *g;
    throw Refusal{
        kUsage,
        "\"" + text + "\" is not a class identifier; write it as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"};
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine c;
    auto set_scope = [&c](CommandLine::Scope s) {
        if (c.scope != CommandLine::Scope::Default && c.scope != s)
            throw Refusal{kUsage, "--user and --system exclude each other"};
        c.scope = s;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            c.help = true;
            return c;
        } else if (a == "--user") {
            set_scope(CommandLine::Scope::User);
        } else if (a == "--system") {
            set_scope(CommandLine::Scope::System);
        } else if (a == "--unregister") {
            c.unregister = true;
        } else if (a == "--list") {
            c.list = true;
        } else if (a == "--surrogate") {
            c.surrogate = true;
        } else if (a == "--class" || a.rfind("--class=", 0) == 0) {
            std::string value;
            if (a == "--class") {
                if (++i == args.size()) throw Refusal{kUsage, "--class needs a class identifier"};
                value = args[i];
            } else {
                value = a.substr(8);
            }
            c.classes.push_back(parse_class(value));
        } else if (a == "--") {
            c.operands.insert(c.operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            throw Refusal{kUsage, "unknown option " + a + " (see monvia-register --help)"};
        } else {
            c.operands.push_back(a);
        }
    }
    return c;
}

}  // namespace monvia::reg
