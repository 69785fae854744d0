// The client on the Qt toolkit and a real socket, against the ticket service
// simulator on the loopback interface. Each test starts its own service on a
// free port and stops it at the end.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/client_window.h"
#include "net/qt_socket.h"
#include "ui/qt_toolkit.h"

#ifndef TICKET_SERVICE_PATH
#error "TICKET_SERVICE_PATH must name the ticket service program"
#endif

namespace monvia::client::testing {
namespace {

QApplication& application() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

// The ticket service as a child process, listening on a free loopback port.
class TicketService {
public:
    explicit TicketService(QStringList options) {
        options << "--port"
                << "0"
                << "--quiet"
                << "--log" << log_dir_.filePath("service.log");
        process_.setProgram(TICKET_SERVICE_PATH);
        process_.setArguments(options);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(5000)) return;
        // The listening line names the port it took.
        QByteArray first;
        while (!first.contains('\n') && process_.waitForReadyRead(5000))
            first += process_.readAllStandardOutput();
        const auto match = QRegularExpression("listening on \\S*:(\\d+)").match(QString::fromUtf8(first));
        if (match.hasMatch()) port_ = match.captured(1).toInt();
    }
    ~TicketService() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    int port() const { return port_; }
    // The service's log lines that hold what, without their time stamps.
    std::vector<std::string> log_lines(const std::string& what) const {
        QFile file(log_dir_.filePath("service.log"));
        std::vector<std::string> lines;
        if (!file.open(QIODevice::ReadOnly)) return lines;
        while (!file.atEnd()) {
            std::string line = file.readLine().trimmed().toStdString();
            const auto hash = line.find(" #");
            if (line.find(what) != std::string::npos && hash != std::string::npos)
                lines.push_back(line.substr(hash + 1));
        }
        return lines;
    }

private:
    QTemporaryDir log_dir_;
    QProcess process_;
    int port_ = 0;
};

// A loopback port that nothing listens on (taken and given back at once).
int free_port() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

class Loopback : public ::testing::Test {
protected:
    Loopback() : test_(std::make_unique<monvia::client::Test>(tk_, std::make_unique<net::QtSocket>())) {}

    ui::Control& control(const char* name) { return test_->window().control(name); }
    std::string text(const char* name) { return control(name).text(); }
    void use_port(int port) { control("txtPort").set_text(std::to_string(port)); }

    // Processes events until pred() holds; the watchdog only keeps a broken
    // build from hanging, nothing is measured against it.
    bool wait_until(const std::function<bool()>& pred, int limit_ms = 15000) {
        bool expired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] { expired = true; });
        watchdog.start(limit_ms);
        while (!pred() && !expired) tk_.process_events();
        return pred();
    }
    // Presses Send and waits until the cycle is over (the fields are usable
    // again) and, when want is given, the transcript holds it.
    void send_and_wait(const std::string& want = {}) {
        test_->cmdSend_Click();
        ASSERT_FALSE(control("frmDades").enabled());
        ASSERT_TRUE(wait_until([&] {
            return control("frmDades").enabled() && text("txtRes").find(want) != std::string::npos;
        })) << text("txtRes");
    }
    // Lets events run for a while, for replies that must not come.
    void settle(int ms) {
        bool done = false;
        QTimer::singleShot(ms, [&] { done = true; });
        wait_until([&] { return done; });
    }

    ui::QtToolkit tk_{application()};
    std::unique_ptr<monvia::client::Test> test_;
};

TEST_F(Loopback, OneCreate) {
    TicketService service({});
    ASSERT_GT(service.port(), 0);
    use_port(service.port());
    send_and_wait("<-- ");
    EXPECT_EQ(text("txtRes"), "--> C|1|100\r\n<-- OK|1|CREATED|100");
    EXPECT_EQ(test_->WS().state(), net::kClosed);
    EXPECT_FALSE(tk_.program_ended());
}

TEST_F(Loopback, AutomaticSeriesOfThree) {
    TicketService service({});
    ASSERT_GT(service.port(), 0);
    use_port(service.port());
    control("chkAuto").set_value(ui::kTicked);
    control("txtTicket").set_text("41");
    control("txtQty").set_text("3");
    send_and_wait("<-- ");
    EXPECT_EQ(text("txtRes"), "--> C|43|100\r\n<-- OK|43|CREATED|100");
    EXPECT_EQ(text("txtTicket"), "43");
    EXPECT_EQ(text("txtQty"), "1");
    // One connection for each request, the service closing each after its reply.
    EXPECT_EQ(
        service.log_lines(" request "),
        (std::vector<std::string>{"#1 request C|41|100", "#2 request C|42|100", "#3 request C|43|100"}));
    // The earlier two were created as well: asking for them finds them.
    control("chkAuto").set_value(ui::kUnticked);
    control("optChk").set_value(ui::kSelected);
    for (const char* ticket : {"41", "42"}) {
        control("txtTicket").set_text(ticket);
        send_and_wait("<-- ");
        EXPECT_EQ(text("txtRes"), std::string("--> S|") + ticket + "\r\n<-- OK|" + ticket + "|CREATED");
    }
}

TEST_F(Loopback, KeptConnection) {
    TicketService service({"--keep"});
    ASSERT_GT(service.port(), 0);
    use_port(service.port());
    control("chkKeep").set_value(ui::kTicked);
    send_and_wait("<-- ");
    EXPECT_EQ(text("txtRes"), "--> C|1|100\r\n<-- OK|1|CREATED|100");
    EXPECT_EQ(test_->WS().state(), net::kConnected);
    // Reused even though the port field no longer names the service.
    control("txtPort").set_text(std::to_string(free_port()));
    control("optChk").set_value(ui::kSelected);
    send_and_wait("<-- ");
    EXPECT_EQ(text("txtRes"), "--> S|1\r\n<-- OK|1|CREATED");
    EXPECT_EQ(test_->WS().state(), net::kConnected);
    EXPECT_EQ(service.log_lines(" request "),
              (std::vector<std::string>{"#1 request C|1|100", "#1 request S|1"}));
    EXPECT_EQ(service.log_lines(" accepted ").size(), 1u);
}

TEST_F(Loopback, RefusedPort) {
    const int port = free_port();
    ASSERT_GT(port, 0);
    use_port(port);
    control("txtRes").set_text("earlier");
    send_and_wait("10061 - ");
    EXPECT_TRUE(text("txtRes").starts_with("10061 - ")) << text("txtRes");
    EXPECT_EQ(text("txtRes").find("earlier"), std::string::npos);
    EXPECT_EQ(test_->ConnectOutcome, kOutcomeError);
    EXPECT_EQ(text("txtTicket"), "1");
}

TEST_F(Loopback, ReplyInTwoPieces) {
    struct Case {
        bool keep;
        std::string transcript;
    };
    // The service sends the first half of "OK|1|CREATED|100", then the rest.
    for (const Case& c : {Case{true, "--> C|1|100\r\n<-- OK|1|CRE\r\n<-- ATED|100"},
                          Case{false, "--> C|1|100\r\n<-- OK|1|CRE"}}) {
        SCOPED_TRACE(c.keep);
        TicketService service({"--split", "300"});
        ASSERT_GT(service.port(), 0);
        use_port(service.port());
        control("chkKeep").set_value(c.keep ? ui::kTicked : ui::kUnticked);
        send_and_wait("<-- ");
        settle(800);  // time for the second piece, when it may come
        EXPECT_EQ(text("txtRes"), c.transcript);
        test_->WS().close();
    }
}

TEST_F(Loopback, AFloodArrivesWholeInBoundedPiecesOrOnlyItsFirstPieceWithoutKeep) {
    constexpr int kFlood = 30000;
    std::string stream = "OK|1|CREATED|100";
    for (int i = 1; i <= kFlood; ++i) stream += "FLOOD|" + std::to_string(i);
    // The transcript's pieces: what follows each "<-- ".
    const auto pieces = [](const std::string& transcript) {
        std::vector<std::string> out;
        const std::string sep = "\r\n<-- ";
        for (size_t at = transcript.find(sep); at != std::string::npos;) {
            const size_t next = transcript.find(sep, at + sep.size());
            out.push_back(transcript.substr(at + sep.size(),
                                            next == std::string::npos ? next : next - at - sep.size()));
            at = next;
        }
        return out;
    };
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        TicketService service({"--keep", "--flood", QString::number(kFlood)});
        ASSERT_GT(service.port(), 0);
        use_port(service.port());
        control("chkKeep").set_value(keep ? ui::kTicked : ui::kUnticked);
        send_and_wait("<-- ");
        if (keep) {
            ASSERT_TRUE(wait_until([&] { return text("txtRes").ends_with("FLOOD|30000"); }, 30'000));
        }
        settle(300);
        const std::string transcript = text("txtRes");
        ASSERT_TRUE(transcript.starts_with("--> C|1|100\r\n<-- ")) << transcript.substr(0, 40);
        std::string joined;
        for (const std::string& p : pieces(transcript)) {
            EXPECT_LE(p.size(), 64u * 1024u);
            joined += p;
        }
        if (keep) {
            EXPECT_EQ(joined, stream);
            EXPECT_EQ(test_->WS().state(), net::kConnected);
        } else {
            // Closed after the first piece: the rest never shows.
            EXPECT_EQ(pieces(transcript).size(), 1u);
            EXPECT_EQ(joined, stream.substr(0, joined.size()));
            EXPECT_EQ(test_->WS().state(), net::kClosed);
        }
        test_->WS().close();
    }
}

TEST_F(Loopback, ClosingTheWindowWhileConnectingEndsTheProgram) {
    // The service never completes a handshake, so the step waits for the
    // socket's own time-out, unless the window is closed first.
    TicketService service({"--backlog-full"});
    ASSERT_GT(service.port(), 0);
    use_port(service.port());
    test_->show();
    test_->cmdSend_Click();
    bool closed = false;
    QTimer::singleShot(300, [&] {
        closed = true;
        static_cast<ui::QtWindow&>(test_->window()).widget()->close();
    });
    // Only keeps a broken build from waiting for the 20-second time-out.
    bool expired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        expired = true;
        tk_.end_program(3);
    });
    watchdog.start(10000);
    EXPECT_EQ(tk_.run(), 0);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(expired);
    EXPECT_TRUE(tk_.program_ended());
    EXPECT_EQ(test_->WS().state(), net::kConnecting);  // the attempt was cut short, not answered
    test_.reset();                                     // Form_Terminate closes the socket
}

}  // namespace
}  // namespace monvia::client::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
