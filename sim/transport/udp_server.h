#pragma once

// The printer's ZEMAK interface (UDP 3289) on one IPv4 address: every datagram goes to
// the responder, and what it answers goes back to the sender's address and port. It
// never sends to anyone else. One thread of its own; every wait in it is bounded.
//
// Under Wine (Windows test programs) a datagram socket bound to a 127.x.y.z other than
// 127.0.0.1 is in fact bound to 0.0.0.0 on that port: it also takes datagrams sent to
// other loopback addresses, its replies leave from 127.0.0.1, and a second such server
// on the same port, in any process, fails to bind. Windows tests that run this server
// on a fixed port therefore hold the CTest resource lock UdpPortLock, and none of them
// checks the source address of a reply. Natively the bind is exact.

#include <atomic>
#include <string>
#include <thread>

#include "platform/sockets.h"
#include "sim/engine/zemak_responder.h"

namespace qx::sim {

// The CTest RESOURCE_LOCK name for Windows tests that serve UDP on a fixed port.
inline constexpr const char* UdpPortLock = "qxsim_udp_port";

class UdpZemakServer {
 public:
  // Port 0 takes any free port.
  UdpZemakServer(ZemakResponder& responder, Ipv4Endpoint at);
  UdpZemakServer(const UdpZemakServer&) = delete;
  UdpZemakServer& operator=(const UdpZemakServer&) = delete;
  ~UdpZemakServer();

  // Binds; false (with the reason) when that fails. Needs a started socket library.
  bool Start(std::string* error = nullptr);
  // Returns within about 50 ms.
  void Stop();

  Ipv4Endpoint Endpoint() const { return at_; }
  int DatagramsReceived() const { return received_.load(); }

 private:
  void Run();

  ZemakResponder& responder_;
  Ipv4Endpoint at_;
  Socket socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> received_{0};
};

}  // namespace qx::sim
