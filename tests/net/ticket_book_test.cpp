// The ticket service's answers, its byte escaping and its command line.

#include "ticket_book.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "options.h"

namespace monvia::ticket_service {
namespace {

TEST(TicketBook, AnswersASessionOfRequestsInOrder) {
    struct Step {
        std::string request;
        std::string reply;
    };
    const std::vector<Step> session = {
        {"S|1", "ERR|1|UNKNOWN"},
        {"C|1|100", "OK|1|CREATED|100"},
        {"S|1", "OK|1|CREATED"},
        {"C|1|250", "ERR|1|EXISTS"},
        {"C|2|0", "OK|2|CREATED|0"},
        {"C|-5|7", "OK|-5|CREATED|7"},
        {"S|-5", "OK|-5|CREATED"},
        {"C|3|-1", "ERR|3|BAD AMOUNT"},
        {"S|3", "ERR|3|UNKNOWN"},
        {"C|2147483647|2147483647", "OK|2147483647|CREATED|2147483647"},
        {"C|-2147483648|1", "OK|-2147483648|CREATED|1"},
        // Malformed lines.
        {"", "ERR|BAD REQUEST"},
        {"C|4", "ERR|BAD REQUEST"},
        {"C|4|1|2", "ERR|BAD REQUEST"},
        {"C||100", "ERR|BAD REQUEST"},
        {"C|x|100", "ERR|BAD REQUEST"},
        {"C|4|1.5", "ERR|BAD REQUEST"},
        {"C| 4|100", "ERR|BAD REQUEST"},
        {"C|+4|100", "ERR|BAD REQUEST"},
        {"C|2147483648|1", "ERR|BAD REQUEST"},
        {"S|", "ERR|BAD REQUEST"},
        {"S|1|2", "ERR|BAD REQUEST"},
        {"s|1", "ERR|BAD REQUEST"},
        {"X|1", "ERR|BAD REQUEST"},
        {std::string("S|1\0", 4), "ERR|BAD REQUEST"},
        {"S|-", "ERR|BAD REQUEST"},
    };
    TicketBook book;
    for (const auto& step : session) EXPECT_EQ(book.answer(step.request), step.reply) << step.request;
    EXPECT_EQ(book.size(), 5u);
}

TEST(TicketBook, LeadingZerosNameTheSameTicket) {
    TicketBook book;
    EXPECT_EQ(book.answer("C|007|10"), "OK|7|CREATED|10");
    EXPECT_EQ(book.answer("S|7"), "OK|7|CREATED");
    EXPECT_EQ(book.answer("C|7|10"), "ERR|7|EXISTS");
}

TEST(Escape, ShowsEveryByteReadablyAndUnescapeRestoresIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C|1|100", "C|1|100"},           {std::string("a\0b", 3), "a\\x00b"}, {"\r\n\t", "\\r\\n\\t"},
        {"back\\slash", "back\\\\slash"}, {"\x7F\x80\xFF", "\\x7F\\x80\\xFF"}, {"", ""},
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(escape(bytes), shown);
        EXPECT_EQ(unescape(shown), bytes);
    }
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(unescape(escape(all)), all);
}

TEST(Escape, MalformedEscapesAreRefused) {
    for (const char* bad : {"\\", "abc\\", "\\q", "\\x", "\\x4", "\\xG0", "\\x0G"})
        EXPECT_FALSE(unescape(bad).has_value()) << bad;
    EXPECT_EQ(unescape("\\0\\x41\\x6a"), std::string("\0Aj", 3));
}

TEST(Options, DefaultsListenOnTheClientsDefaultAddress) {
    const auto parsed = parse_options({});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->host, "127.0.0.1");
    EXPECT_EQ(parsed.options->port, 16501);
    EXPECT_FALSE(parsed.options->keep);
    EXPECT_EQ(parsed.options->split_ms, -1);
    EXPECT_EQ(parsed.options->idle_timeout_ms, 120000);
    EXPECT_EQ(parsed.options->max_connections, 256);
}

TEST(Options, EveryOptionIsTaken) {
    const auto parsed = parse_options({"--host",
                                       "::1",
                                       "--port",
                                       "0",
                                       "--split",
                                       "250",
                                       "--delay",
                                       "100",
                                       "--keep",
                                       "--reply",
                                       "A\\0B",
                                       "--crlf",
                                       "--unsolicited",
                                       "HI\\r\\n",
                                       "--unsolicited-every",
                                       "500",
                                       "--flood",
                                       "20",
                                       "--gap",
                                       "5",
                                       "--log",
                                       "/tmp/x.log",
                                       "--quiet"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const Options& o = *parsed.options;
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.split_ms, 250);
    EXPECT_EQ(o.delay_ms, 100);
    EXPECT_TRUE(o.keep);
    EXPECT_EQ(o.reply, std::string("A\0B", 3));
    EXPECT_TRUE(o.crlf);
    EXPECT_EQ(o.unsolicited, "HI\r\n");
    EXPECT_EQ(o.unsolicited_every_ms, 500);
    EXPECT_EQ(o.flood, 20);
    EXPECT_EQ(o.gap_ms, 5);
    EXPECT_EQ(o.log_path, "/tmp/x.log");
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(parse_options({"--silent"}).options->silent);
    EXPECT_TRUE(parse_options({"--reset"}).options->reset);
    EXPECT_TRUE(parse_options({"--backlog-full"}).options->backlog_full);
    EXPECT_TRUE(parse_options({"--port", "1", "--help"}).help);
    const auto limits = parse_options({"--idle-timeout", "0", "--max-connections", "3"});
    ASSERT_TRUE(limits.options) << limits.error;
    EXPECT_EQ(limits.options->idle_timeout_ms, 0);
    EXPECT_EQ(limits.options->max_connections, 3);
}

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port"}, "--port needs a number from 0 to 65535"},
        {{"--port", "65536"}, "--port needs a number from 0 to 65535"},
        {{"--port", "-1"}, "--port needs a number from 0 to 65535"},
        {{"--port", "80x"}, "--port needs a number from 0 to 65535"},
        {{"--split", "-3"}, "--split needs milliseconds from 0 to 3600000"},
        {{"--delay", "3600001"}, "--delay needs milliseconds from 0 to 3600000"},
        {{"--gap", "0"}, "--gap needs milliseconds from 1 to 3600000"},
        {{"--flood", "many"}, "--flood needs a count from 0 to 1000000"},
        {{"--reply", "bad\\q"}, "--reply needs a text (escapes: \\r \\n \\t \\0 \\\\ \\xNN)"},
        {{"--host", ""}, "--host needs an address"},
        {{"--log"}, "--log needs a file name"},
        {{"--silent", "--reset"}, "--silent and --reset exclude each other"},
        {{"--unsolicited-every", "100"}, "--unsolicited-every needs --unsolicited TEXT"},
        {{"--idle-timeout", "-1"}, "--idle-timeout needs milliseconds from 0 (never) to 3600000"},
        {{"--idle-timeout"}, "--idle-timeout needs milliseconds from 0 (never) to 3600000"},
        {{"--max-connections", "0"}, "--max-connections needs a count from 1 to 10000"},
        {{"--max-connections", "10001"}, "--max-connections needs a count from 1 to 10000"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"16501"}, "unknown option 16501"},
    };
    for (const auto& [args, error] : cases) {
        const auto parsed = parse_options(args);
        EXPECT_FALSE(parsed.options.has_value()) << args[0];
        EXPECT_EQ(parsed.error, error);
    }
}

// Every field of the options, so that two command lines can be compared.
std::string fields(const Options& o) {
    std::ostringstream s;
    s << o.host << '|' << o.port << '|' << o.split_ms << '|' << o.delay_ms << '|' << o.keep << o.silent
      << o.reset << o.crlf << o.backlog_full << o.quiet << '|' << o.reply.value_or("-") << '|'
      << o.unsolicited.value_or("-") << '|' << o.unsolicited_every_ms << '|' << o.flood << '|' << o.gap_ms
      << '|' << o.log_path << '|' << o.idle_timeout_ms << '|' << o.max_connections;
    return s.str();
}

TEST(Options, AValueAfterAnEqualsSignIsTheSameAsTheNextArgument) {
    const std::vector<std::pair<std::string, std::string>> valued = {
        {"--host", "::1"},         {"--port", "0"},         {"--split", "250"},         {"--delay", "100"},
        {"--reply", "A=B\\x41"},   {"--unsolicited", "HI"}, {"--flood", "20"},          {"--gap", "5"},
        {"--log", "/tmp/x=y.log"}, {"--idle-timeout", "0"}, {"--max-connections", "3"},
    };
    std::vector<std::string> spaced, joined;
    for (const auto& [name, value] : valued) {
        spaced.insert(spaced.end(), {name, value});
        joined.push_back(name + "=" + value);
    }
    for (auto* args : {&spaced, &joined}) args->insert(args->end(), {"--unsolicited-every", "500"});
    const auto a = parse_options(spaced), b = parse_options(joined);
    ASSERT_TRUE(a.options) << a.error;
    ASSERT_TRUE(b.options) << b.error;
    EXPECT_EQ(fields(*b.options), fields(*a.options));
    EXPECT_EQ(b.options->reply, "A=BA");
    EXPECT_EQ(b.options->log_path, "/tmp/x=y.log");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--port="}, "--port needs a number from 0 to 65535"},
        {{"--port=1=2"}, "--port needs a number from 0 to 65535"},
        {{"--log="}, "--log needs a file name"},
        {{"--host="}, "--host needs an address"},
        {{"--keep=yes"}, "--keep takes no value"},
        {{"--quiet="}, "--quiet takes no value"},
        {{"--verbose=1"}, "unknown option --verbose"},
    };
    for (const auto& [args, error] : refused) {
        const auto parsed = parse_options(args);
        EXPECT_FALSE(parsed.options.has_value()) << args[0];
        EXPECT_EQ(parsed.error, error) << args[0];
    }
    // A value that is itself an option is taken as the value when attached.
    const auto reply = parse_options({"--reply=--keep"});
    ASSERT_TRUE(reply.options) << reply.error;
    EXPECT_EQ(reply.options->reply, "--keep");
    EXPECT_FALSE(reply.options->keep);
}

}  // namespace
}  // namespace monvia::ticket_service
