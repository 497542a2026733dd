#include "platform/sockets.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qx {

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
NativeSocket Native(SocketHandle s) { return static_cast<NativeSocket>(s); }
SocketHandle Wrap(NativeSocket s) { return s == INVALID_SOCKET ? InvalidSocketHandle : static_cast<SocketHandle>(s); }
#else
using NativeSocket = int;
NativeSocket Native(SocketHandle s) { return static_cast<NativeSocket>(s); }
SocketHandle Wrap(NativeSocket s) { return s < 0 ? InvalidSocketHandle : static_cast<SocketHandle>(s); }
#endif

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.Port);
  std::memcpy(&address.sin_addr, endpoint.Address.data(), 4);
  return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
  Ipv4Endpoint endpoint;
  std::memcpy(endpoint.Address.data(), &address.sin_addr, 4);
  endpoint.Port = ntohs(address.sin_port);
  return endpoint;
}

int SetIntOption(SocketHandle s, int level, int option, int value) {
  return setsockopt(Native(s), level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0 ? 0 : -1;
}

}  // namespace

SocketLibrary::SocketLibrary(std::uint16_t version) {
#ifdef _WIN32
  WSADATA data{};
  started_ = WSAStartup(version, &data) == 0;
  version_ = started_ ? data.wVersion : 0;
#else
  started_ = true;
  version_ = version;
#endif
}

SocketLibrary::~SocketLibrary() {
#ifdef _WIN32
  if (started_) WSACleanup();
#endif
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

Socket Socket::Tcp() { return Socket(Wrap(socket(AF_INET, SOCK_STREAM, 0))); }
Socket Socket::Udp() { return Socket(Wrap(socket(AF_INET, SOCK_DGRAM, 0))); }

SocketHandle Socket::Release() {
  const SocketHandle handle = handle_;
  handle_ = InvalidSocketHandle;
  return handle;
}

void Socket::Close() {
  if (Valid()) CloseSocket(Release());
}

int SocketError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

bool IsWouldBlock(int error) {
#ifdef _WIN32
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
#else
  return error == EWOULDBLOCK || error == EAGAIN || error == EINPROGRESS;
#endif
}

int CloseSocket(SocketHandle s) {
#ifdef _WIN32
  return closesocket(Native(s)) == 0 ? 0 : -1;
#else
  return close(Native(s)) == 0 ? 0 : -1;
#endif
}

int Bind(SocketHandle s, const Ipv4Endpoint& local) {
  const sockaddr_in address = ToSockaddr(local);
  return bind(Native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

int Listen(SocketHandle s, int backlog) { return listen(Native(s), backlog) == 0 ? 0 : -1; }

SocketHandle Accept(SocketHandle s, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  const SocketHandle accepted = Wrap(accept(Native(s), reinterpret_cast<sockaddr*>(&address), &size));
  if (accepted != InvalidSocketHandle && peer) *peer = FromSockaddr(address);
  return accepted;
}

int Connect(SocketHandle s, const Ipv4Endpoint& remote) {
  const sockaddr_in address = ToSockaddr(remote);
  return connect(Native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

int Send(SocketHandle s, const void* data, int length) {
#ifdef _WIN32
  return send(Native(s), static_cast<const char*>(data), length, 0);
#else
  return static_cast<int>(send(Native(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL));
#endif
}

int Receive(SocketHandle s, void* buffer, int length) {
#ifdef _WIN32
  return recv(Native(s), static_cast<char*>(buffer), length, 0);
#else
  return static_cast<int>(recv(Native(s), buffer, static_cast<std::size_t>(length), 0));
#endif
}

int SendTo(SocketHandle s, const void* data, int length, const Ipv4Endpoint& to) {
  const sockaddr_in address = ToSockaddr(to);
#ifdef _WIN32
  return sendto(Native(s), static_cast<const char*>(data), length, 0, reinterpret_cast<const sockaddr*>(&address),
                sizeof address);
#else
  return static_cast<int>(sendto(Native(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&address), sizeof address));
#endif
}

int ReceiveFrom(SocketHandle s, void* buffer, int length, Ipv4Endpoint* from) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
#ifdef _WIN32
  const int n = recvfrom(Native(s), static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&address), &size);
#else
  const int n = static_cast<int>(recvfrom(Native(s), buffer, static_cast<std::size_t>(length), 0,
                                          reinterpret_cast<sockaddr*>(&address), &size));
#endif
  if (n >= 0 && from) *from = FromSockaddr(address);
  return n;
}

int Shutdown(SocketHandle s) {
#ifdef _WIN32
  return shutdown(Native(s), SD_BOTH) == 0 ? 0 : -1;
#else
  return shutdown(Native(s), SHUT_RDWR) == 0 ? 0 : -1;
#endif
}

int WaitReadable(SocketHandle s, int timeoutMs) {
#ifndef _WIN32
  // poll: a descriptor number past FD_SETSIZE is as good as any.
  pollfd fd{Native(s), POLLIN, 0};
  const int ready = poll(&fd, 1, timeoutMs);
  return ready < 0 ? -1 : ready;
#else
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(s), &readable);
  timeval timeout{};
  timeout.tv_sec = timeoutMs / 1000;
  timeout.tv_usec = (timeoutMs % 1000) * 1000;
  const int result = select(static_cast<int>(Native(s)) + 1, &readable, nullptr, nullptr, &timeout);
  return result < 0 ? -1 : result;
#endif
}

int WaitReadableAny(const SocketHandle* sockets, bool* readable, int count, int timeoutMs) {
  if (count < 0 || count > 64) return -1;
  for (int i = 0; i < count; ++i) readable[i] = false;
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < count; ++i) FD_SET(Native(sockets[i]), &set);
  timeval timeout{};
  timeout.tv_sec = timeoutMs / 1000;
  timeout.tv_usec = (timeoutMs % 1000) * 1000;
  if (count == 0) {
    Sleep(static_cast<DWORD>(timeoutMs));  // select() on no socket fails on Windows
    return 0;
  }
  const int result = select(0, &set, nullptr, nullptr, &timeout);
  if (result <= 0) return result < 0 ? -1 : 0;
  for (int i = 0; i < count; ++i) readable[i] = FD_ISSET(Native(sockets[i]), &set) != 0;
  return result;
#else
  pollfd fds[64];
  for (int i = 0; i < count; ++i) fds[i] = {Native(sockets[i]), POLLIN, 0};
  const int result = poll(fds, static_cast<nfds_t>(count), timeoutMs);
  if (result <= 0) return result < 0 ? -1 : 0;
  for (int i = 0; i < count; ++i) readable[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  return result;
#endif
}

int SetNoDelay(SocketHandle s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

int SetBroadcast(SocketHandle s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0); }
int SetReuseAddress(SocketHandle s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }

int SetNonBlocking(SocketHandle s, bool on) {
#ifdef _WIN32
  u_long mode = on ? 1 : 0;
  return ioctlsocket(Native(s), FIONBIO, &mode) == 0 ? 0 : -1;
#else
  const int flags = fcntl(Native(s), F_GETFL, 0);
  if (flags < 0) return -1;
  return fcntl(Native(s), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0 ? 0 : -1;
#endif
}

int LocalEndpoint(SocketHandle s, Ipv4Endpoint& local) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getsockname(Native(s), reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
  local = FromSockaddr(address);
  return 0;
}

bool ParseDottedAddress(const char* text, Ipv4Address& address) {
  if (!text) return false;
  const unsigned long value = inet_addr(text);
  if (value == INADDR_NONE) return false;
  const auto bits = static_cast<std::uint32_t>(value);
  std::memcpy(address.data(), &bits, 4);
  return true;
}

std::string FormatDottedAddress(const Ipv4Address& address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
  return text;
}

std::vector<Ipv4Address> LocalIpv4Addresses(int limit) {
  std::vector<Ipv4Address> result;
#ifdef _WIN32
  Socket probe = Socket::Udp();
  if (!probe.Valid()) return result;
  alignas(SOCKET_ADDRESS_LIST) char buffer[1024];
  DWORD size = 0;
  if (WSAIoctl(Native(probe.Handle()), SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer, sizeof buffer, &size, nullptr,
               nullptr) != 0) {
    return result;
  }
  const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buffer);
  const int count = list->iAddressCount < limit ? list->iAddressCount : limit;
  for (int i = 0; i < count; ++i) {
    const SOCKET_ADDRESS& entry = list->Address[i];
    if (entry.lpSockaddr && entry.lpSockaddr->sa_family == AF_INET) {
      Ipv4Address address;
      std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(entry.lpSockaddr)->sin_addr, 4);
      result.push_back(address);
    }
  }
  Shutdown(probe.Handle());
#else
  // The list here also holds an entry per link and the IPv6 addresses; the limit is
  // on IPv4 addresses, as the Windows list holds nothing else.
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (ifaddrs* entry = list; entry && static_cast<int>(result.size()) < limit; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    Ipv4Address address;
    std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
    result.push_back(address);
  }
  freeifaddrs(list);
#endif
  return result;
}

bool ResolveIpv4(const std::string& name, Ipv4Address& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;  // the printers speak IPv4 only
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int code = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (code != 0 || found == nullptr) {
#ifdef _WIN32
    error = "error " + std::to_string(code);
#else
    error = code == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(code);
#endif
    if (found) freeaddrinfo(found);
    return false;
  }
  std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
  freeaddrinfo(found);
  return true;
}

}  // namespace qx
