// The ticket service program on loopback, driven through the Qt socket the
// way the ticket client drives it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "net/qt_socket.h"
#include "qt_test_support.h"

namespace monvia::net {
namespace {

using looptest::Client;
using looptest::pump;
using looptest::wait_until;

// The program, started on a free port; stopped with SIGTERM at the end.
class Service {
public:
    explicit Service(QStringList args) {
        proc_.setProgram(QStringLiteral(TICKET_SERVICE_PATH));
        args << "--port"
             << "0"
             << "--quiet";
        proc_.setArguments(args);
        proc_.start();
        if (!proc_.waitForStarted(5000)) {
            ADD_FAILURE() << "ticket-service did not start";
            return;
        }
        // The first line names the address: "ticket-service listening on 127.0.0.1:<port>".
        while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
        }
        const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
        first_line_ = line.toStdString();
        const QString address = line.section(' ', 3, 3);
        port_ = address.section(':', -1).toInt();
        if (port_ == 0) ADD_FAILURE() << "no port in: " << first_line_;
    }
    ~Service() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(3000)) proc_.kill();
            proc_.waitForFinished(1000);
        }
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    int32_t port() const { return port_; }
    const std::string& first_line() const { return first_line_; }
    QProcess& process() { return proc_; }

private:
    QProcess proc_;
    int32_t port_ = 0;
    std::string first_line_;
};

// One request on a fresh connection; what came back before the service closed
// (or, with keep, within the time given).
struct Exchange {
    std::vector<std::string> pieces;
    int16_t state_after = 0;
    std::vector<std::string> events;
};

Exchange send_one(const Service& service, const std::string& request, int wait_ms = 3000) {
    Client client;
    Exchange result;
    client.ws.on_data_arrival([&](int32_t) { result.pieces.push_back(client.ws.get_data()); });
    client.connect_to(service.port());
    client.ws.send_data(request);
    wait_until([&] { return client.ws.state() != kConnected; }, wait_ms);
    pump(50);
    result.state_after = client.ws.state();
    for (const auto& e : client.events)
        if (e != "SendComplete") result.events.push_back(e);
    return result;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string all;
    for (const auto& p : pieces) all += p;
    return all;
}

TEST(TicketService, AnswersEachRequestAndClosesAfterTheReply) {
    Service service({});
    struct Case {
        std::string request;
        std::string reply;
    };
    const std::vector<Case> session = {
        {"S|1", "ERR|1|UNKNOWN"},        {"C|1|100", "OK|1|CREATED|100"},
        {"S|1", "OK|1|CREATED"},         {"C|1|100", "ERR|1|EXISTS"},
        {"C|0|100", "OK|0|CREATED|100"}, {std::string("\0\xFF", 2), "ERR|BAD REQUEST"},
    };
    for (const auto& c : session) {
        SCOPED_TRACE(c.request);
        const Exchange ex = send_one(service, c.request);
        EXPECT_EQ(joined(ex.pieces), c.reply);
        EXPECT_EQ(ex.state_after, kClosing);  // the service closed its side: no event
        EXPECT_TRUE(ex.events.empty());
    }
}

TEST(TicketService, KeepAnswersEveryRequestOnOneConnection) {
    Service service({"--keep"});
    Client client;
    client.connect_to(service.port());
    client.ws.send_data("C|5|10");
    ASSERT_TRUE(wait_until([&] { return client.read == "OK|5|CREATED|10"; }));
    client.ws.send_data("S|5");
    ASSERT_TRUE(wait_until([&] { return client.read == "OK|5|CREATED|10OK|5|CREATED"; }));
    pump(100);
    EXPECT_EQ(client.ws.state(), kConnected);
}

TEST(TicketService, SplitSendsTheReplyInTwoPieces) {
    Service service({"--split", "200"});
    const Exchange ex = send_one(service, "C|1|100");
    EXPECT_EQ(ex.pieces, (std::vector<std::string>{"OK|1|CRE", "ATED|100"}));
    EXPECT_EQ(ex.state_after, kClosing);
}

TEST(TicketService, DelayHoldsTheReplyBack) {
    Service service({"--delay", "400", "--keep"});
    Client client;
    client.connect_to(service.port());
    client.ws.send_data("S|9");
    pump(150);
    EXPECT_EQ(client.read, "");  // it cannot come before the delay
    ASSERT_TRUE(wait_until([&] { return !client.read.empty(); }));
    EXPECT_EQ(client.read, "ERR|9|UNKNOWN");
}

TEST(TicketService, SilentNeverRepliesButLogsEveryByte) {
    QTemporaryDir dir;
    const QString log = dir.filePath("bytes.log");
    Service service({"--silent", "--log", log});
    Client client;
    client.connect_to(service.port());
    client.ws.send_data(std::string("S|1\0\xFF\\", 6));
    pump(300);
    EXPECT_EQ(client.read, "");
    EXPECT_EQ(client.ws.state(), kConnected);
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("#1 <- S|1\\x00\\xFF\\\\\n"));
}

TEST(TicketService, ResetAnswersWithAConnectionReset) {
    Service service({"--reset"});
    const Exchange ex = send_one(service, "C|1|100");
    EXPECT_TRUE(ex.pieces.empty());
    EXPECT_EQ(ex.events, std::vector<std::string>{"Error 10054 Connection reset by remote side"});
    EXPECT_EQ(ex.state_after, kError);
}

TEST(TicketService, UnsolicitedDataComesWithoutARequest) {
    Service service({"--unsolicited", "EVENT\\r\\n", "--unsolicited-every", "100", "--keep"});
    Client client;
    // The first text may arrive together with the connection: no check
    // that Connect comes alone.
    client.ws.connect(looptest::kLoopback, service.port());
    ASSERT_TRUE(wait_until([&] { return client.read.size() >= 3 * 7; }));
    EXPECT_EQ(client.read.substr(0, 21), "EVENT\r\nEVENT\r\nEVENT\r\n");
}

TEST(TicketService, FloodFollowsTheReplyWithNumberedPieces) {
    Service service({"--flood", "200"});
    const Exchange ex = send_one(service, "S|1");
    std::string expected = "ERR|1|UNKNOWN";
    for (int i = 1; i <= 200; ++i) expected += "FLOOD|" + std::to_string(i);
    EXPECT_EQ(joined(ex.pieces), expected);
    EXPECT_EQ(ex.state_after, kClosing);
}

TEST(TicketService, FixedReplyCarriesAnyBytes) {
    Service service({"--reply", "A\\0B\\xE9\\r\\nC", "--crlf"});
    const Exchange ex = send_one(service, "S|1");
    EXPECT_EQ(joined(ex.pieces), std::string("A\0B\xE9\r\nC\r\n", 9));
}

TEST(TicketService, BacklogFullLeavesAttemptsToTimeOut) {
    Service service({"--backlog-full"});
    EXPECT_NE(service.first_line().find("backlog full"), std::string::npos);
    Client client;
    client.ws.set_connect_timeout(300);
    client.ws.connect(looptest::kLoopback, service.port());
    ASSERT_TRUE(client.outcome());
    EXPECT_EQ(client.events, std::vector<std::string>{"Error 10060 Connection timed out"});
}

TEST(TicketService, StopsCleanlyOnSigtermWithConnectionsOpen) {
    Service service({"--keep"});
    Client client;
    client.connect_to(service.port());
    service.process().terminate();
    ASSERT_TRUE(service.process().waitForFinished(3000));
    EXPECT_EQ(service.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.process().exitCode(), 0);
    // The client sees the orderly close.
    ASSERT_TRUE(wait_until([&] { return client.ws.state() != kConnected; }));
    EXPECT_EQ(client.ws.state(), kClosing);
}

// A plain non-blocking loopback socket, for what the client's socket does not
// let a test do: send without ever reading, or hold a connection silently.
class RawClient {
public:
    explicit RawClient(int32_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 5000);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Sends as much of bytes as the socket takes now.
    size_t send_some(const std::string& bytes) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    // Waits until the socket can take more; false when it still cannot after wait_ms.
    bool writable(int wait_ms) {
        pollfd p{fd_, POLLOUT, 0};
        return ::poll(&p, 1, wait_ms) == 1;
    }
    // Reads what is there, waiting up to wait_ms for something. Sets closed
    // when the service closed the connection.
    std::string read_some(int wait_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, wait_ms) != 1) return {};
        char buf[64 * 1024];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) closed = true;
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
    // Reads until the service closes the connection (or wait_ms of silence).
    bool wait_closed(int wait_ms) {
        while (!closed) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, wait_ms) != 1) return false;
            read_some(0);
        }
        return true;
    }

    bool closed = false;

private:
    int fd_;
};

// A client that sends requests but never reads its replies: the service
// stops reading from it once a bounded amount of replies waits, instead of
// queueing replies without end, and answers every request once the client
// reads again.
TEST(TicketService, AClientThatDoesNotReadIsHeldBackNotQueued) {
    // Requests and replies of 100 bytes each; a long gap, so that a request
    // cut between two sends waits for its end instead of ending by silence.
    const std::string reply(98, 'R');
    Service service({"--keep", "--crlf", "--gap", "600000", "--reply", QString::fromStdString(reply)});
    const std::string request = "S|" + std::string(96, '0') + "1\n";
    std::string batch;
    for (int i = 0; i < 200; ++i) batch += request;
    RawClient client(service.port());
    // Far more requests than the socket buffers on both sides can hold.
    constexpr size_t kCap = 32u * 1024 * 1024;
    size_t sent = 0;
    bool held_back = false;
    while (sent < kCap) {
        const size_t n = client.send_some(batch.substr(sent % batch.size()));
        sent += n;
        if (n == 0 && !client.writable(2000)) {
            held_back = true;
            break;
        }
    }
    ASSERT_TRUE(held_back) << "the service read " << sent
                           << " bytes of requests without their replies being read";
    // Now the client reads (finishing a request cut by the last send): every
    // request gets its answer.
    const size_t requests = (sent + request.size() - 1) / request.size();
    std::string rest = sent % request.size() ? request.substr(sent % request.size()) : std::string();
    const std::string answer = reply + "\r\n";
    size_t received = 0;
    bool all_answers = true;
    while (received < requests * answer.size()) {
        if (!rest.empty()) rest.erase(0, client.send_some(rest));
        const std::string got = client.read_some(10000);
        if (got.empty()) break;
        for (size_t i = 0; i < got.size(); ++i)
            all_answers = all_answers && got[i] == answer[(received + i) % answer.size()];
        received += got.size();
    }
    EXPECT_EQ(received, requests * answer.size()) << requests << " requests";
    EXPECT_TRUE(all_answers);
}

// Connections beyond the cap are closed at once; connections silent for the
// idle time-out are closed, so that they cannot lock fresh clients out.
TEST(TicketService, IdleConnectionsCloseAndExtraOnesAreRefusedAtOnce) {
    Service service({"--keep", "--idle-timeout", "1000", "--max-connections", "2"});
    RawClient silent1(service.port());
    RawClient silent2(service.port());
    // The third is closed without being served: its request gets no answer.
    RawClient extra(service.port());
    extra.send_some("S|1\n");
    std::string answer;
    while (!extra.closed) {
        const std::string got = extra.read_some(5000);
        if (got.empty() && !extra.closed) break;
        answer += got;
    }
    EXPECT_TRUE(extra.closed) << "a connection over the cap was kept waiting";
    EXPECT_EQ(answer, "");
    // The silent ones are closed by the idle time-out...
    EXPECT_TRUE(silent1.wait_closed(10000));
    EXPECT_TRUE(silent2.wait_closed(10000));
    // ... and a fresh client is served.
    const Exchange ex = send_one(service, "S|7", 5000);
    EXPECT_EQ(joined(ex.pieces), "ERR|7|UNKNOWN");
}

TEST(TicketService, RefusesABadCommandLine) {
    QProcess proc;
    proc.start(QStringLiteral(TICKET_SERVICE_PATH), {"--port", "99999"});
    ASSERT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 2);
    EXPECT_TRUE(proc.readAllStandardError().contains("--port needs a number from 0 to 65535"));
}

}  // namespace
}  // namespace monvia::net

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
