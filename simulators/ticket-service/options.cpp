#include "options.h"

#include "ticket_book.h"

namespace monvia::ticket_service {

namespace {

constexpr int kMaxMs = 3'600'000;
constexpr int kMaxFlood = 1'000'000;
constexpr int kMaxConnectionsLimit = 10'000;

// A whole number in [low, high], or none.
std::optional<int> bounded(const std::string& text, int low, int high) {
    const auto v = parse_int32(text);
    if (!v || *v < low || *v > high) return std::nullopt;
    return *v;
}

}  // namespace

std::string usage() {
    return std::string("Usage: ") + kProgramName +
           " [options]\n"
           "A ticket service for testing clients by hand, on 127.0.0.1:16501 unless told otherwise.\n"
           "\n"
           "  --host ADDR              address to listen on (default 127.0.0.1)\n"
           "  --port N                 port to listen on, 0 for any free one (default 16501)\n"
           "  --split MS               reply in two pieces, MS milliseconds apart\n"
           "  --delay MS               wait MS milliseconds before replying\n"
           "  --keep                   keep the connection open after replying\n"
           "                           (default: close it once the reply is out)\n"
           "  --silent                 accept and read, but never reply\n"
           "  --reset                  reset the connection instead of replying\n"
           "  --reply TEXT             reply TEXT to every request instead of the real answer\n"
           "  --crlf                   end every reply with CR LF\n"
           "  --unsolicited TEXT       send TEXT as soon as a connection is accepted\n"
           "  --unsolicited-every MS   and again every MS milliseconds while it is open\n"
           "  --flood N                after the reply, send N more pieces FLOOD|1 .. FLOOD|N\n"
           "  --gap MS                 quiet time that ends a request (default 30)\n"
           "  --log FILE               append every byte received, escaped, to FILE\n"
           "  --backlog-full           listen but never accept, with the queue kept full:\n"
           "                           connection attempts never complete\n"
           "  --idle-timeout MS        close a connection that has neither sent nor taken\n"
           "                           anything for MS milliseconds, 0 for never (default 120000)\n"
           "  --max-connections N      serve at most N connections at once; a further one is\n"
           "                           closed at once (default 256)\n"
           "  --quiet                  print only the listening line\n"
           "  --help                   show this text\n"
           "\n"
           "An option's value follows it or an '=' (--port 0, --port=0). TEXT may hold\n"
           "\\r \\n \\t \\0 \\\\ and \\xNN. SIGINT or SIGTERM ends the service.\n"
           "\n"
           "Exit status: 0 stopped by SIGINT or SIGTERM, or --help; 1 it cannot listen (the\n"
           "address is taken or not this machine's) or cannot open the log; 2 the command\n"
           "line is wrong.\n";
}

ParsedOptions parse_options(const std::vector<std::string>& args) {
    ParsedOptions out;
    Options o;
    auto fail = [&](std::string why) {
        out.error = std::move(why);
        return out;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        // "--name=value" is "--name value".
        std::string a = args[i];
        std::optional<std::string> attached;
        if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            attached = a.substr(eq + 1);
            a.resize(eq);
        }
        bool value_taken = false;
        auto value = [&]() -> std::optional<std::string> {
            value_taken = true;
            if (attached) return attached;
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        auto number = [&](int low, int high, int& into) -> bool {
            const auto v = value();
            if (!v) return false;
            const auto n = bounded(*v, low, high);
            if (!n) return false;
            into = *n;
            return true;
        };
        auto text = [&](std::optional<std::string>& into) -> bool {
            const auto v = value();
            if (!v) return false;
            into = unescape(*v);
            return into.has_value();
        };

        if (a == "--help" || a == "-h") {
            out.help = true;
            return out;
        } else if (a == "--host") {
            const auto v = value();
            if (!v || v->empty()) return fail("--host needs an address");
            o.host = *v;
        } else if (a == "--port") {
            if (!number(0, 65535, o.port)) return fail("--port needs a number from 0 to 65535");
        } else if (a == "--split") {
            if (!number(0, kMaxMs, o.split_ms)) return fail("--split needs milliseconds from 0 to 3600000");
        } else if (a == "--delay") {
            if (!number(0, kMaxMs, o.delay_ms)) return fail("--delay needs milliseconds from 0 to 3600000");
        } else if (a == "--gap") {
            if (!number(1, kMaxMs, o.gap_ms)) return fail("--gap needs milliseconds from 1 to 3600000");
        } else if (a == "--unsolicited-every") {
            if (!number(1, kMaxMs, o.unsolicited_every_ms))
                return fail("--unsolicited-every needs milliseconds from 1 to 3600000");
        } else if (a == "--idle-timeout") {
            if (!number(0, kMaxMs, o.idle_timeout_ms))
                return fail("--idle-timeout needs milliseconds from 0 (never) to 3600000");
        } else if (a == "--max-connections") {
            if (!number(1, kMaxConnectionsLimit, o.max_connections))
                return fail("--max-connections needs a count from 1 to 10000");
        } else if (a == "--flood") {
            if (!number(0, kMaxFlood, o.flood)) return fail("--flood needs a count from 0 to 1000000");
        } else if (a == "--reply") {
            if (!text(o.reply)) return fail("--reply needs a text (escapes: \\r \\n \\t \\0 \\\\ \\xNN)");
        } else if (a == "--unsolicited") {
            if (!text(o.unsolicited))
                return fail("--unsolicited needs a text (escapes: \\r \\n \\t \\0 \\\\ \\xNN)");
        } else if (a == "--log") {
            const auto v = value();
            if (!v || v->empty()) return fail("--log needs a file name");
            o.log_path = *v;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--silent") {
            o.silent = true;
        } else if (a == "--reset") {
            o.reset = true;
        } else if (a == "--crlf") {
            o.crlf = true;
        } else if (a == "--backlog-full") {
            o.backlog_full = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            return fail("unknown option " + a);
        }
        if (attached && !value_taken) return fail(a + " takes no value");
    }
    if (o.silent && o.reset) return fail("--silent and --reset exclude each other");
    if (o.unsolicited_every_ms > 0 && !o.unsolicited)
        return fail("--unsolicited-every needs --unsolicited TEXT");
    out.options = o;
    return out;
}

}  // namespace monvia::ticket_service
