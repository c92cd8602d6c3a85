#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "tests/support/loopback_socket.h"

namespace test_support::loopback {

namespace {
sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}
}  // namespace

void start() {
    signal(SIGPIPE, SIG_IGN);
}

socket_id listen_on_loopback(int backlog, uint16_t& port) {
    start();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return no_socket;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a = loopback_address(0);
    socklen_t len = sizeof(a);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return no_socket;
    }
    port = ntohs(a.sin_port);
    return fd;
}

socket_id connect_without_waiting(uint16_t port) {
    start();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return no_socket;
    sockaddr_in a = loopback_address(port);
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return fd;
}

socket_id connect_to(uint16_t port) {
    start();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return no_socket;
    sockaddr_in a = loopback_address(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return no_socket;
    }
    return static_cast<socket_id>(fd);
}

uint16_t closed_port() {
    uint16_t port = 0;
    socket_id s = listen_on_loopback(1, port);
    if (s != no_socket) close_socket(s);
    return port;
}

int wait_readable(socket_id s, int ms) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    int r = ::poll(&p, 1, ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r > 0 ? 1 : 0;
}

socket_id accept_connection(socket_id listener) {
    int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? no_socket : fd;
}

long send_some(socket_id s, const char* data, size_t size) {
    return static_cast<long>(::send(static_cast<int>(s), data, size, MSG_NOSIGNAL));
}

long receive_some(socket_id s, char* data, size_t size) {
    return static_cast<long>(::recv(static_cast<int>(s), data, size, 0));
}

bool try_again() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void set_timeouts(socket_id s, int send_ms, int receive_ms) {
    timeval send{send_ms / 1000, (send_ms % 1000) * 1000};
    timeval receive{receive_ms / 1000, (receive_ms % 1000) * 1000};
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDTIMEO, &send, sizeof(send));
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof(receive));
}

void interrupt(socket_id s) { ::shutdown(static_cast<int>(s), SHUT_RDWR); }

void close_socket(socket_id s, bool reset) {
    if (s == no_socket) return;
    if (reset) {
        linger l{1, 0};
        setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    }
    ::close(static_cast<int>(s));
}

}  // namespace test_support::loopback
