// The scenario file: what good files mean and how bad ones are refused.

#include <gtest/gtest.h>
#include <stdlib.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scenario.h"
#include "test_env.h"

using namespace monvia::cashsim;
namespace fs = std::filesystem;

namespace {

Scenario parse(const std::string& text) { return Scenario::parse(text, "test"); }

std::string parse_error(const std::string& text) {
    try {
        parse(text);
    } catch (const ScenarioError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(Scenario, EmptyAndCommentOnlyFiles) {
    for (const char* text :
         {"", "\n\n", "# nothing here\n   \n\t# indented comment", "\xEF\xBB\xBF# with a BOM\r\n"}) {
        const Scenario s = parse(text);
        EXPECT_TRUE(s.empty()) << text;
        EXPECT_EQ(s.effect_for(kCharge, 1), nullptr);
    }
}

TEST(Scenario, ReadsEveryKindOfEffect) {
    const Scenario s = parse(
        "# fault injection\n"
        "Charge  false code=-7 text=\"Drawer jammed\"   # every Charge\n"
        "Pay#2   hresult=0x80004005 description=\"Hopper fault, call \\\"service\\\"\"\r\n"
        "GetLevels unset\n"
        "connect delay=250\n"
        "EmptyCashBox#3 false unset delay=10\n"
        "PaySpecific hresult=-2147467259\n"
        "Host hresult=0x80070057\n"
        "Configuration false\n"
        "HandleError false text=\n");
    ASSERT_EQ(s.rules().size(), 9u);

    const Effect* charge = s.effect_for(kCharge, 5);
    ASSERT_NE(charge, nullptr);
    EXPECT_TRUE(charge->returns_false);
    EXPECT_EQ(charge->code, -7);
    EXPECT_EQ(charge->text, "Drawer jammed");
    EXPECT_FALSE(charge->hresult);
    EXPECT_FALSE(charge->leave_outputs);

    EXPECT_EQ(s.effect_for(kPay, 1), nullptr);
    const Effect* pay = s.effect_for(kPay, 2);
    ASSERT_NE(pay, nullptr);
    EXPECT_EQ(pay->hresult, static_cast<int32_t>(0x80004005u));
    EXPECT_EQ(pay->description, "Hopper fault, call \"service\"");
    EXPECT_EQ(s.effect_for(kPay, 3), nullptr);

    EXPECT_TRUE(s.effect_for(kGetLevels, 1)->leave_outputs);
    EXPECT_EQ(s.effect_for(kConnect, 1)->delay_ms, 250u);  // member names in any case

    const Effect* empty = s.effect_for(kEmptyCashBox, 3);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->returns_false && empty->leave_outputs);
    EXPECT_EQ(empty->delay_ms, 10u);
    EXPECT_EQ(empty->code, -100);  // the defaults of false
    EXPECT_EQ(empty->text, "Simulated failure");

    EXPECT_EQ(s.effect_for(kPaySpecific, 1)->hresult, static_cast<int32_t>(0x80004005u));
    // A property name stands for both accessors.
    EXPECT_EQ(s.effect_for(kPutHost, 1)->hresult, static_cast<int32_t>(0x80070057u));
    EXPECT_EQ(s.effect_for(kGetHost, 1)->hresult, static_cast<int32_t>(0x80070057u));
    EXPECT_EQ(s.effect_for(kHandleError, 1)->text, "");
    EXPECT_EQ(s.rules()[1].line, 3);
}

TEST(Scenario, ACallRuleWinsOverAnEveryCallRule) {
    const Scenario s = parse("Pay false code=1\nPay#2 hresult=0x80004005\n");
    EXPECT_TRUE(s.effect_for(kPay, 1)->returns_false);
    EXPECT_TRUE(s.effect_for(kPay, 2)->hresult.has_value());
    EXPECT_TRUE(s.effect_for(kPay, 3)->returns_false);
}

TEST(Scenario, BadFilesNameTheLineAndTheProblem) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"Chrage false", "test: line 1: unknown member \"Chrage\""},
        {"# ok\nCharge\n", "test: line 2: Charge: nothing to do"},
        {"Charge explode", "line 1: unknown effect \"explode\""},
        {"Charge colour=red", "line 1: unknown effect \"colour=\""},
        {"Charge false code=40000", "line 1: code=40000: a code is a whole number from -32768 to 32767"},
        {"Charge false code=seven", "line 1: code=seven"},
        {"Charge code=3", "line 1: code= and text= go with false"},
        {"Charge text=x", "line 1: code= and text= go with false"},
        {"Charge description=x", "line 1: description= goes with hresult="},
        {"Charge hresult=0x00000001", "line 1: hresult=0x00000001: the status must be a failing one"},
        {"Charge hresult=0", "the status must be a failing one"},
        {"Charge hresult=0x1FFFFFFFF", "line 1: hresult=0x1FFFFFFFF: not a 32-bit status"},
        {"Charge hresult=E_FAIL", "not a 32-bit status"},
        {"Charge hresult=0x80004005 false", "cannot be combined with false or unset"},
        {"Charge hresult=0x80004005 unset", "cannot be combined with false or unset"},
        {"Charge delay=-1", "line 1: delay=-1: a delay is a whole number of milliseconds from 0 to 600000"},
        {"Charge delay=600001", "delay=600001"},
        {"Charge delay=1.5", "delay=1.5"},
        {"Charge false false", "line 1: false is given twice"},
        {"Charge delay=1 delay=2", "line 1: delay= is given twice"},
        {"Charge#0 false", "the call number after '#' must be a whole number from 1"},
        {"Charge# false", "the call number after '#' must be a whole number from 1"},
        {"Charge#-2 false", "the call number after '#' must be a whole number from 1"},
        {"Charge#x false", "the call number after '#' must be a whole number from 1"},
        {"Disconnect false", "line 1: Disconnect has no Boolean result; false is not possible there"},
        {"ColorA false", "get_ColorA has no Boolean result"},  // a property names both accessors
        {"put_Host unset", "line 1: put_Host has no outputs to leave unset"},
        {"Host unset", "put_Host has no outputs to leave unset"},
        {"Charge false text=\"open", "line 1: a quoted text is not closed"},
        {"\"Charge\" false", "a rule starts with a member name"},
        {"Charge=1", "a rule starts with a member name"},
        {"Charge false\nCharge delay=5", "line 2: Charge repeats the rule of line 1 for Charge"},
        {"Host delay=5\nput_Host delay=6", "line 2: put_Host repeats the rule of line 1 for put_Host"},
        {"Pay#2 false\npay#2 unset", "line 2: pay#2 repeats the rule of line 1 for Pay"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string got = parse_error(c.text);
        EXPECT_NE(got.find(c.message), std::string::npos) << got;
    }
    EXPECT_NE(
        parse_error(std::string("Charge false\nPay\0 false", 23)).find("line 2: the line holds a NUL byte"),
        std::string::npos);
}

TEST(Scenario, LoadingFiles) {
    const fs::path dir =
        fs::temp_directory_path() / ("monvia-scenario-" + std::to_string(monvia::testing_env::process_id()));
    fs::create_directories(dir);
    const fs::path good = dir / "good.txt";
    std::ofstream(good) << "Charge false code=12 text=\"Drawer jammed\"\n";
    const Scenario s = Scenario::load(good);
    EXPECT_EQ(s.effect_for(kCharge, 1)->code, 12);

    const struct {
        fs::path file;
        std::string message;
    } bad[] = {
        {dir / "missing.txt",
         "Scenario file \"" + (dir / "missing.txt").string() + "\" cannot be read: No such file"},
        {dir, "Scenario file \"" + dir.string() + "\" is a directory"},
    };
    for (const auto& b : bad) {
        try {
            Scenario::load(b.file);
            ADD_FAILURE() << b.file << " was accepted";
        } catch (const ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
        }
    }
    const fs::path broken = dir / "broken.txt";
    std::ofstream(broken) << "\nPay false code=x\n";
    try {
        Scenario::load(broken);
        ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Scenario file \"" + broken.string() +
                      "\": line 2: code=x: a code is a whole number from -32768 to 32767");
    }
    fs::remove_all(dir);
}

// A huge bad token is quoted cut short with an ellipsis: the message stays a
// readable sentence however large the line.
TEST(Scenario, AHugeBadTokenIsQuotedShort) {
    const std::string big(1000 * 1000, 'x');
    std::string accents;
    for (int i = 0; i < 1000; ++i) accents += "\xC3\xA9";  // é, two bytes each
    const std::string x40(40, 'x');
    const struct {
        std::string line;
        std::string message;
    } cases[] = {
        {big + " false", "unknown member \"" + x40 + "\xE2\x80\xA6\""},
        {"Charge " + big, "unknown effect \"" + x40 + "\xE2\x80\xA6\""},
        {"Charge " + big + "=1", "unknown effect \"" + x40 + "\xE2\x80\xA6=\""},
        {"Charge \"" + big + "\"", "\"" + x40 + "\xE2\x80\xA6\" is not an effect"},
        {"Charge false code=" + big, "code=" + x40 + "\xE2\x80\xA6: a code is"},
        {"Charge hresult=" + big, "hresult=" + x40 + "\xE2\x80\xA6: not a 32-bit status"},
        {"Charge delay=" + big, "delay=" + x40 + "\xE2\x80\xA6: a delay is"},
        {"Charge#" + big + " false", "\"Charge#" + std::string(33, 'x') + "\xE2\x80\xA6\": the call number"},
        {"Charge#1" + big, "\"Charge#1" + std::string(32, 'x') + "\xE2\x80\xA6\": the call number"},
        // Cut at a character boundary: 20 whole characters, never half of one.
        {"Charge " + accents, "unknown effect \"" + accents.substr(0, 40) + "\xE2\x80\xA6\""},
        {accents + " false", "unknown member \"" + accents.substr(0, 40) + "\xE2\x80\xA6\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string got = parse_error(c.line);
        EXPECT_LT(got.size(), 400u);
        EXPECT_NE(got.find(c.message), std::string::npos) << got.substr(0, 400);
    }
    // A token up to the limit is quoted whole.
    EXPECT_NE(parse_error("Charge " + x40).find("\"" + x40 + "\";"), std::string::npos);
}

// Only a regular file is read. A FIFO with no writer would block a plain open
// (and with it the instance's creation) forever; a device could be read
// without end. FIFOs and devices as files are a POSIX matter.
#if !defined(_WIN32)
TEST(Scenario, OnlyARegularFileIsRead) {
    const fs::path dir = fs::temp_directory_path() / ("monvia-scenario-fifo-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path fifo = dir / "scenario.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    // Whenever a reader holds the FIFO open, open its writing side and close
    // it again: a reader blocked in open is let go and then reads nothing, so
    // a loader that opens FIFOs returns instead of hanging the test.
    std::atomic<bool> done{false};
    std::thread release([&] {
        while (!done) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const struct {
        fs::path file;
        std::string message;
    } cases[] = {
        {fifo, "Scenario file \"" + fifo.string() + "\" is not a regular file"},
        {"/dev/zero", "Scenario file \"/dev/zero\" is not a regular file"},
        {dir, "Scenario file \"" + dir.string() + "\" is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        try {
            Scenario::load(c.file);
            ADD_FAILURE() << "read as a scenario";
        } catch (const ScenarioError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    done = true;
    release.join();
    // Over the size cap: refused before reading.
    const fs::path large = dir / "large.txt";
    fs::resize_file((std::ofstream(large), large), 1024 * 1024 + 1);
    try {
        Scenario::load(large);
        ADD_FAILURE() << "a file over 1 MiB was read";
    } catch (const ScenarioError& e) {
        EXPECT_NE(std::string(e.what()).find("is larger than 1 MiB"), std::string::npos) << e.what();
    }
    fs::remove_all(dir);
}
#endif

TEST(Scenario, TheDocumentedExamplesAreOneValidFile) {
    std::ifstream in(MONVIA_SIMULATOR_README);
    ASSERT_TRUE(in) << MONVIA_SIMULATOR_README;
    const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = readme.find("Examples");
    const auto end = readme.find("Errors in the file", start);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    // The examples are the indented lines of that section.
    std::string file;
    size_t pos = start;
    while (pos < end) {
        const size_t nl = readme.find('\n', pos);
        const std::string line = readme.substr(pos, nl - pos);
        if (line.rfind("    ", 0) == 0) file += line.substr(4) + "\n";
        pos = nl + 1;
    }
    const Scenario s = parse(file);
    EXPECT_EQ(s.rules().size(), 8u);
    EXPECT_EQ(s.effect_for(kConnect, 1)->delay_ms, 1500u);
    EXPECT_TRUE(s.effect_for(kConnect, 2)->returns_false);
}

}  // namespace
