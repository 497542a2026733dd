#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qx {
namespace {

TEST(Sockets, DottedAddressText) {
  Ipv4Address address{};
  ASSERT_TRUE(ParseDottedAddress("10.0.0.200", address));
  EXPECT_EQ(address, (Ipv4Address{10, 0, 0, 200}));
  EXPECT_FALSE(ParseDottedAddress("not an address", address));
  EXPECT_FALSE(ParseDottedAddress(nullptr, address));
  EXPECT_EQ(FormatDottedAddress({192, 168, 192, 168}), "192.168.192.168");
}

TEST(Sockets, DatagramRoundTripOnLoopback) {
  SocketLibrary library;
  ASSERT_TRUE(library.Started());
  Socket server = Socket::Udp();
  Socket client = Socket::Udp();
  ASSERT_TRUE(server.Valid() && client.Valid());
  const Ipv4Endpoint at{{127, 0, 9, 1}, 0};
  ASSERT_EQ(Bind(server.Handle(), at), 0);
  Ipv4Endpoint bound;
  ASSERT_EQ(LocalEndpoint(server.Handle(), bound), 0);
  ASSERT_NE(bound.Port, 0);

  EXPECT_EQ(WaitReadable(server.Handle(), 10), 0);  // nothing yet
  ASSERT_EQ(SendTo(client.Handle(), "ping", 4, bound), 4);
  ASSERT_GT(WaitReadable(server.Handle(), 5000), 0);
  char buffer[16];
  Ipv4Endpoint from;
  ASSERT_EQ(ReceiveFrom(server.Handle(), buffer, sizeof buffer, &from), 4);
  EXPECT_EQ(std::memcmp(buffer, "ping", 4), 0);
  EXPECT_EQ(from.Address, (Ipv4Address{127, 0, 0, 1}));  // unbound sender: the default loopback source
}

TEST(Sockets, StreamConnectSendReceive) {
  SocketLibrary library;
  Socket listener = Socket::Tcp();
  ASSERT_EQ(SetReuseAddress(listener.Handle(), true), 0);
  ASSERT_EQ(Bind(listener.Handle(), {{127, 0, 9, 2}, 0}), 0);
  ASSERT_EQ(Listen(listener.Handle(), 1), 0);
  Ipv4Endpoint at;
  ASSERT_EQ(LocalEndpoint(listener.Handle(), at), 0);

  Socket client = Socket::Tcp();
  ASSERT_EQ(Connect(client.Handle(), at), 0);
  Socket accepted(Accept(listener.Handle(), nullptr));
  ASSERT_TRUE(accepted.Valid());
  ASSERT_EQ(Send(client.Handle(), "hello", 5), 5);
  char buffer[8];
  ASSERT_GT(WaitReadable(accepted.Handle(), 5000), 0);
  ASSERT_EQ(Receive(accepted.Handle(), buffer, sizeof buffer), 5);
  client.Close();
  ASSERT_GT(WaitReadable(accepted.Handle(), 5000), 0);
  EXPECT_EQ(Receive(accepted.Handle(), buffer, sizeof buffer), 0);  // orderly close
}

TEST(Sockets, ConnectToAClosedPortFails) {
  SocketLibrary library;
  Socket client = Socket::Tcp();
  EXPECT_EQ(Connect(client.Handle(), {{127, 0, 9, 3}, 9}), -1);
}

TEST(Sockets, WaitReadableAnyTellsWhichSocketHasData) {
  SocketLibrary library;
  Socket a = Socket::Udp();
  Socket b = Socket::Udp();
  ASSERT_EQ(Bind(a.Handle(), {{127, 1, 3, 1}, 0}), 0);
  ASSERT_EQ(Bind(b.Handle(), {{127, 1, 3, 1}, 0}), 0);
  Ipv4Endpoint atB;
  ASSERT_EQ(LocalEndpoint(b.Handle(), atB), 0);
  const SocketHandle both[] = {a.Handle(), b.Handle()};
  bool readable[2] = {true, true};
  EXPECT_EQ(WaitReadableAny(both, readable, 2, 10), 0);
  EXPECT_FALSE(readable[0] || readable[1]);
  ASSERT_EQ(SendTo(a.Handle(), "x", 1, atB), 1);
  ASSERT_EQ(WaitReadableAny(both, readable, 2, 5000), 1);
  EXPECT_FALSE(readable[0]);
  EXPECT_TRUE(readable[1]);
  EXPECT_EQ(WaitReadableAny(both, readable, 0, 1), 0);  // no socket: a bounded pause

  Socket tcp = Socket::Tcp();
  EXPECT_EQ(SetNoDelay(tcp.Handle(), true), 0);
}

}  // namespace
}  // namespace qx
