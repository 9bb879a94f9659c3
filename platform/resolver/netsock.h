// TCP sockets over IPv4.
//
// Plain descriptors (-1 for none) and small calls that return 0 on success
// or the system's error number, so callers above this layer include no
// system header. Addresses are IPv4 in network byte order, ports in host
// order. Part of target qvresolver.
#pragma once

#include <cstdint>

namespace qv::net {

// Prepares the process for sockets: a write to a peer that has gone away
// reports an error instead of ending the process. Safe to call repeatedly.
int Startup();

int TcpSocket(int* fd);
// Connects within `timeout_ms` (negative: the system's own limit).
int Connect(int fd, uint32_t address, uint16_t port, int timeout_ms);
// Binds to `address` (network byte order; 0: every local address) and `port`
// (0: any free port); an address still in use by a listener fails with
// EADDRINUSE.
int Bind(int fd, uint32_t address, uint16_t port);
int Listen(int fd, int backlog);
// Accepts one connection; an interrupted wait is retried.
int Accept(int fd, int* conn, uint32_t* peer_address);
// Port a socket is bound to, in host order.
int LocalPort(int fd, uint16_t* port);
int SetNonBlocking(int fd, bool on);
// Waits up to `timeout_ms` (negative: forever) for the descriptor to become
// readable (or writable). Returns 0 when ready, ETIMEDOUT, or the error.
int WaitReadable(int fd, int timeout_ms);
int WaitWritable(int fd, int timeout_ms);
// Wakes threads blocked on the socket (accept, read) and stops both
// directions; the descriptor stays open.
void Shutdown(int fd);
void Close(int fd);

// errno values that callers above this layer name.
bool IsWouldBlock(int error);
bool IsAddressInUse(int error);

}  // namespace qv::net
