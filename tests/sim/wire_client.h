#pragma once

// A small hand-written host for the simulator tests: byte helpers and TCP/UDP clients
// over the socket seam with bounded waits.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/sockets.h"
#include "platform/time.h"
#include "sim/engine/printer_engine.h"

namespace qx::sim::test {

// Bytes written as the wire tables show them.
inline Bytes B(std::initializer_list<int> bytes) {
  Bytes result;
  for (int b : bytes) result.push_back(static_cast<char>(b));
  return result;
}

// Compares byte strings and shows both in hex when they differ.
inline ::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected [" << HexText(expected) << "] (" << expected.size()
                                       << " bytes)\n     got [" << HexText(actual) << "] (" << actual.size()
                                       << " bytes)";
}

class TcpClient {
 public:
  bool Connect(const Ipv4Endpoint& at) {
    socket_ = Socket::Tcp();
    return socket_.Valid() && qx::Connect(socket_.Handle(), at) == 0;
  }
  bool Send(const Bytes& bytes) {
    return qx::Send(socket_.Handle(), bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
  }
  // Reads until `count` bytes came, the peer closed, or `limitMs` passed.
  Bytes Read(std::size_t count, int limitMs = 5000) {
    Bytes got;
    const std::int64_t end = SteadyMilliseconds() + limitMs;
    char buffer[1024];
    while (got.size() < count) {
      const std::int64_t left = end - SteadyMilliseconds();
      if (left <= 0 || WaitReadable(socket_.Handle(), static_cast<int>(left)) <= 0) break;
      const int n = qx::Receive(socket_.Handle(), buffer, static_cast<int>(std::min<std::size_t>(sizeof buffer, count - got.size())));
      if (n <= 0) {
        closed_ = true;
        break;
      }
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  // True when the peer closes (or resets) the connection within `limitMs`.
  bool ClosedByPeer(int limitMs = 5000) {
    if (closed_) return true;
    const std::int64_t end = SteadyMilliseconds() + limitMs;
    char buffer[256];
    while (SteadyMilliseconds() < end) {
      if (WaitReadable(socket_.Handle(), 50) > 0 && qx::Receive(socket_.Handle(), buffer, sizeof buffer) <= 0) {
        return closed_ = true;
      }
    }
    return false;
  }
  void Close() { socket_.Close(); }

 private:
  Socket socket_;
  bool closed_ = false;
};

class UdpClient {
 public:
  // Bound to `local` (port 0: any), so tests know the address replies must go to.
  bool Open(const Ipv4Endpoint& local) {
    socket_ = Socket::Udp();
    if (!socket_.Valid() || Bind(socket_.Handle(), local) != 0) return false;
    return LocalEndpoint(socket_.Handle(), local_) == 0;
  }
  const Ipv4Endpoint& Local() const { return local_; }
  bool SendTo(const Bytes& bytes, const Ipv4Endpoint& to) {
    return qx::SendTo(socket_.Handle(), bytes.data(), static_cast<int>(bytes.size()), to) ==
           static_cast<int>(bytes.size());
  }
  // One datagram, or false after `limitMs`.
  bool Receive(Bytes& datagram, Ipv4Endpoint* from = nullptr, int limitMs = 5000) {
    if (WaitReadable(socket_.Handle(), limitMs) <= 0) return false;
    char buffer[2048];
    const int n = ReceiveFrom(socket_.Handle(), buffer, sizeof buffer, from);
    if (n < 0) return false;
    datagram.assign(buffer, static_cast<std::size_t>(n));
    return true;
  }

 private:
  Socket socket_;
  Ipv4Endpoint local_;
};

}  // namespace qx::sim::test
