#pragma once

// The thin socket seam: the few BSD/Winsock calls the network kind, the network search
// and the simulated printer use, the same on both platforms. Results follow the
// socket calls themselves (0 or a count on success, -1 on failure with SocketError()).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle InvalidSocketHandle = -1;

// An IPv4 address, first octet first (as in PortSettings::IpAddress).
using Ipv4Address = std::array<std::uint8_t, 4>;

struct Ipv4Endpoint {
  Ipv4Address Address{};
  std::uint16_t Port = 0;  // host byte order
};

inline constexpr Ipv4Address AnyAddress{0, 0, 0, 0};
inline constexpr Ipv4Address BroadcastAddress{255, 255, 255, 255};

// Starts the socket library for the object's lifetime (WSAStartup/WSACleanup on
// Windows; nothing to do elsewhere).
class SocketLibrary {
 public:
  // `version` as WSAStartup takes it: 0x0101 asks for Windows Sockets 1.1.
  explicit SocketLibrary(std::uint16_t version = 0x0202);
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  ~SocketLibrary();

  bool Started() const { return started_; }
  // The version the library agreed to (the one asked for, off Windows).
  std::uint16_t Version() const { return version_; }

 private:
  bool started_ = false;
  std::uint16_t version_ = 0;
};

// Owns one socket and closes it.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }

  static Socket Tcp();
  static Socket Udp();

  SocketHandle Handle() const { return handle_; }
  bool Valid() const { return handle_ != InvalidSocketHandle; }
  SocketHandle Release();
  void Close();

 private:
  SocketHandle handle_ = InvalidSocketHandle;
};

// The last socket error of this thread (WSAGetLastError or errno).
int SocketError();
// True for the "would block / in progress" errors of a non-blocking call.
bool IsWouldBlock(int error);

int CloseSocket(SocketHandle s);
int Bind(SocketHandle s, const Ipv4Endpoint& local);
int Listen(SocketHandle s, int backlog);
SocketHandle Accept(SocketHandle s, Ipv4Endpoint* peer);
int Connect(SocketHandle s, const Ipv4Endpoint& remote);
// send/recv with flags 0 (and no SIGPIPE on a closed connection).
int Send(SocketHandle s, const void* data, int length);
int Receive(SocketHandle s, void* buffer, int length);
int SendTo(SocketHandle s, const void* data, int length, const Ipv4Endpoint& to);
int ReceiveFrom(SocketHandle s, void* buffer, int length, Ipv4Endpoint* from);
// Both directions.
int Shutdown(SocketHandle s);
// select() on one socket: >0 readable, 0 time-out, <0 error.
int WaitReadable(SocketHandle s, int timeoutMs);
// The same on several sockets (at most 64): >0 the number readable, with readable[i]
// set for each, 0 time-out, <0 error.
int WaitReadableAny(const SocketHandle* sockets, bool* readable, int count, int timeoutMs);
int SetBroadcast(SocketHandle s, bool on);
int SetReuseAddress(SocketHandle s, bool on);
int SetNonBlocking(SocketHandle s, bool on);
// TCP_NODELAY: small writes go out at once.
int SetNoDelay(SocketHandle s, bool on);
int LocalEndpoint(SocketHandle s, Ipv4Endpoint& local);

// inet_addr semantics: false for text that is not an address (and for
// "255.255.255.255", which inet_addr cannot tell from an error).
bool ParseDottedAddress(const char* text, Ipv4Address& address);
// "%d.%d.%d.%d" of the four octets.
std::string FormatDottedAddress(const Ipv4Address& address);

// The first IPv4 address the system's resolver gives for a host name (a SocketLibrary
// must be up on Windows). False with the resolver's reason when there is none.
bool ResolveIpv4(const std::string& name, Ipv4Address& address, std::string& error);

// The machine's IPv4 interface addresses in the system's order, at most `limit` entries
// of the address list looked at (SIO_ADDRESS_LIST_QUERY on Windows). Empty on failure.
std::vector<Ipv4Address> LocalIpv4Addresses(int limit);

}  // namespace qx
