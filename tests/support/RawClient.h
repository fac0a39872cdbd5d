// A plain blocking TCP client for tests of servers on 127.0.0.1: connect, send, read until
// the server closes, each bounded in time so that a server that never answers fails the test
// instead of hanging it.
#pragma once

#include <string>

namespace kairelon::test {

// A connected socket to 127.0.0.1:port with send and receive time-outs of timeoutMs; -1 when
// the connection failed.
int ConnectLoopback(int port, int timeoutMs = 5000);
// Reads until the peer closes (or the receive time-out / an error ends it).
std::string ReadUntilClosed(int fd);
// Connects, reads until the server closes, closes.
std::string FetchAll(int port, int timeoutMs = 5000);
bool SendAllBytes(int fd, const std::string& bytes);
int LocalPortOf(int fd);             // the local port of a socket
bool PeerClosed(int fd, int waitMs); // the peer closed the connection within waitMs

} // namespace kairelon::test
