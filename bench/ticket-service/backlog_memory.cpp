// Memory of the ticket service while a client sends requests and never reads
// the replies.
//
//   backlog_memory <ticket-service program> [requests]     (default 1000000)
//
// Starts the service (--keep, any free port), sends the requests "S|1\n" as
// fast as the connection takes them without ever reading, stops when all
// are sent or the connection has taken nothing for 2 s, waits 2 s more for
// the service to settle, then prints the service's resident memory (now and
// at its peak) from /proc. A figure, not a test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string status_line(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return line;
    return std::string(key) + " ?";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: backlog_memory <ticket-service> [requests]\n");
        return 2;
    }
    const long requests = argc > 2 ? std::atol(argv[2]) : 1000000;

    int out[2];
    if (pipe(out) != 0) return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(argv[1], argv[1], "--port", "0", "--keep", "--quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // "ticket-service listening on 127.0.0.1:<port>"
    std::string first;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') first.push_back(c);
    const auto colon = first.rfind(':');
    if (colon == std::string::npos) {
        std::fprintf(stderr, "backlog_memory: the service did not start: %s\n", first.c_str());
        return 1;
    }
    const int port = std::atoi(first.c_str() + colon + 1);

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 5000);

    std::string batch;
    for (int i = 0; i < 4096; ++i) batch += "S|1\n";
    const size_t total = static_cast<size_t>(requests) * 4;
    size_t sent = 0;
    while (sent < total) {
        const size_t want = std::min(total - sent, batch.size() - sent % batch.size());
        const ssize_t n = send(fd, batch.data() + sent % batch.size(), want, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        pollfd w{fd, POLLOUT, 0};
        if (poll(&w, 1, 2000) != 1) break;  // the service takes nothing more
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::printf("requests sent without reading a reply: %zu of %ld (%zu bytes)\n", sent / 4, requests, sent);
    std::printf("ticket-service %s\n", status_line(pid, "VmRSS:").c_str());
    std::printf("ticket-service %s\n", status_line(pid, "VmHWM:").c_str());
    close(fd);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
}
