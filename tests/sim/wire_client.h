#pragma once

// A small hand-written host for the simulator tests: byte helpers and TCP/UDP clients
// over the socket seam, and natively the host end of a pty, with bounded waits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

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

// The host's commands and the printer's replies exactly as on the wire, written out
// here rather than taken from the engine's own tables.
inline const Bytes Identify = B({0x10, 0x14, 0x12, 0x00, 0x03});
inline const Bytes Firmware = B({0x1D, 0x49, 0x41});
inline const Bytes Query = B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x7F});
inline const Bytes Enter = B({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E});
inline const Bytes Leave = B({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54});
inline Bytes Write(int value) { return B({0x1D, 0x28, 0x45, 0x04, 0x00, 0x05, 0x7F, value, 0x00}); }
inline Bytes QueryReply(int digit) { return B({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, digit, 0x00}); }
inline const Bytes IdentifyReply = B({0x37, 0x4D, 0x43, 'Q', 'X', '-', 'K', '4', '0', 'V', 'I', 'I', 0x00});
inline const Bytes FirmwareReply = B({0x5F, '6', '.', '0', '0', 0x00});
inline const Bytes EnterReply = B({0x37, 0x20, 0x00});
inline const Bytes QueryReady = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00});
inline const Bytes QueryReadyReply =
    B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x71, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00});
inline const Bytes Search = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});

// A fault with the fields named set: With(&ReplyFault::DelayMs, 500, &ReplyFault::Count, 1).
template <class Fault, class Field, class Value, class... More>
Fault With(Field Fault::*field, const Value& value, const More&... more) {
  Fault fault;
  if constexpr (sizeof...(more) > 0) fault = With(more...);
  fault.*field = value;
  return fault;
}

// Reads until `count` bytes came, the source ended, or `limitMs` passed: `ready(ms)`
// waits at most ms for bytes, `take(buffer, n)` takes up to n (0 or less: ended).
template <class Ready, class Take>
Bytes ReadWithin(std::size_t count, int limitMs, Ready ready, Take take) {
  Bytes got;
  const std::int64_t end = SteadyMilliseconds() + limitMs;
  char buffer[1024];
  while (got.size() < count) {
    const std::int64_t left = end - SteadyMilliseconds();
    if (left <= 0 || !ready(static_cast<int>(left))) break;
    const long n = take(buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
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
    return ReadWithin(
        count, limitMs, [&](int ms) { return WaitReadable(socket_.Handle(), ms) > 0; },
        [&](char* buffer, std::size_t n) {
          const int got = qx::Receive(socket_.Handle(), buffer, static_cast<int>(n));
          closed_ = closed_ || got <= 0;
          return got;
        });
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
  // Sends `request` and takes the one datagram that answers it (none: empty).
  Bytes Ask(const Bytes& request, const Ipv4Endpoint& to, Ipv4Endpoint* from = nullptr) {
    Bytes reply;
    if (!SendTo(request, to) || !Receive(reply, from)) return {};
    return reply;
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

#ifndef _WIN32
// The host side of the serial line: the pty's slave, raw, read with a time limit.
class SerialHost {
 public:
  explicit SerialHost(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios mode{};
    if (fd_ >= 0 && tcgetattr(fd_, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(fd_, TCSANOW, &mode);
    }
  }
  ~SerialHost() {
    if (fd_ >= 0) close(fd_);
  }
  bool Valid() const { return fd_ >= 0; }
  bool Send(const Bytes& bytes) { return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }
  Bytes Read(std::size_t count, int limitMs = 5000) {
    return ReadWithin(
        count, limitMs,
        [&](int ms) {
          pollfd fd{fd_, POLLIN, 0};
          return poll(&fd, 1, ms) > 0;
        },
        [&](char* buffer, std::size_t n) { return read(fd_, buffer, n); });
  }

 private:
  int fd_;
};
#endif

// Sends `request` over a TCP connection or the pty and expects exactly `reply` back.
template <class Host>
::testing::AssertionResult Answers(Host& host, const Bytes& request, const Bytes& reply) {
  if (!host.Send(request)) return ::testing::AssertionFailure() << "cannot send [" << HexText(request) << "]";
  return SameBytes(reply, host.Read(reply.size()));
}

}  // namespace qx::sim::test
