#pragma once
// The few socket calls the loopback test servers make, on 127.0.0.1 only. One half per OS
// (loopback_socket_posix.cpp over BSD sockets, loopback_socket_win.cpp over Winsock).
#include <cstdint>
#include <string>

namespace test_support::loopback {

using socket_id = intptr_t;  // a file descriptor or a SOCKET
constexpr socket_id no_socket = -1;

// Makes sockets usable in this process (Winsock start-up; a peer that goes away must not kill
// the process with SIGPIPE). Every other call here does it first.
void start();

// A listening socket on 127.0.0.1 with an ephemeral port; no_socket when none can be made.
socket_id listen_on_loopback(int backlog, uint16_t& port);
// A connection to 127.0.0.1:port started without waiting for it to complete.
socket_id connect_without_waiting(uint16_t port);
// A connected socket to 127.0.0.1:port; no_socket when the connection is refused.
socket_id connect_to(uint16_t port);
// A loopback port where nothing listens now.
uint16_t closed_port();

// 1 when the socket has input (or a connection to accept) within `ms`, 0 on time-out, -1 on
// an error.
int wait_readable(socket_id s, int ms);
socket_id accept_connection(socket_id listener);
// Bytes moved, 0 at the end of the stream, -1 on failure (try_again() tells a time-out).
long send_some(socket_id s, const char* data, size_t size);
long receive_some(socket_id s, char* data, size_t size);
bool try_again();
void set_timeouts(socket_id s, int send_ms, int receive_ms);
// Makes a send or receive that waits on the socket, in any thread, return with a failure.
void interrupt(socket_id s);
// Closes the socket; `reset` aborts the connection (TCP reset) instead of an orderly close.
void close_socket(socket_id s, bool reset = false);

}  // namespace test_support::loopback
