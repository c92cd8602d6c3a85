#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

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
SOCKET native(socket_id s) {
    return static_cast<SOCKET>(s);
}
}  // namespace

void start() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

socket_id listen_on_loopback(int backlog, uint16_t& port) {
    start();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return no_socket;
    // Only this socket may use the port, even if another one left it in TIME_WAIT.
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof(one));
    sockaddr_in a = loopback_address(0);
    int len = sizeof(a);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(s, backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::closesocket(s);
        return no_socket;
    }
    port = ntohs(a.sin_port);
    return static_cast<socket_id>(s);
}

socket_id connect_without_waiting(uint16_t port) {
    start();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return no_socket;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    sockaddr_in a = loopback_address(port);
    (void)::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return static_cast<socket_id>(s);
}

socket_id connect_to(uint16_t port) {
    start();
    SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET) return no_socket;
    sockaddr_in a = loopback_address(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::closesocket(fd);
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
    WSAPOLLFD p{native(s), POLLRDNORM, 0};
    int r = WSAPoll(&p, 1, ms);
    if (r == SOCKET_ERROR) return -1;
    return r > 0 ? 1 : 0;
}

socket_id accept_connection(socket_id listener) {
    SOCKET s = ::accept(native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? no_socket : static_cast<socket_id>(s);
}

long send_some(socket_id s, const char* data, size_t size) {
    int n = ::send(native(s), data, static_cast<int>(size > 1 << 30 ? 1 << 30 : size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long receive_some(socket_id s, char* data, size_t size) {
    int n = ::recv(native(s), data, static_cast<int>(size > 1 << 30 ? 1 << 30 : size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool try_again() {
    int e = WSAGetLastError();
    return e == WSAETIMEDOUT || e == WSAEWOULDBLOCK || e == WSAEINTR;
}

void set_timeouts(socket_id s, int send_ms, int receive_ms) {
    DWORD send = static_cast<DWORD>(send_ms), receive = static_cast<DWORD>(receive_ms);
    setsockopt(native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send),
               sizeof(send));
    setsockopt(native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive),
               sizeof(receive));
}

void interrupt(socket_id s) {
    // A blocking send is pending I/O of the socket's handle; shutting down alone would wait
    // for it to drain.
    CancelIoEx(reinterpret_cast<HANDLE>(native(s)), nullptr);
    ::shutdown(native(s), SD_BOTH);
}

void close_socket(socket_id s, bool reset) {
    if (s == no_socket) return;
    if (reset) {
        linger l{1, 0};
        setsockopt(native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l));
    }
    ::closesocket(native(s));
}

}  // namespace test_support::loopback
