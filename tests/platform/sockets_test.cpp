#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#endif

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

#ifndef _WIN32
TEST(Sockets, WaitReadableOnADescriptorPastTheSelectLimit) {
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < 1100 && files.rlim_max >= 1100) {
    files.rlim_cur = 1100;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  Socket low = Socket::Udp();
  ASSERT_EQ(Bind(low.Handle(), {{127, 0, 9, 4}, 0}), 0);
  Ipv4Endpoint at;
  ASSERT_EQ(LocalEndpoint(low.Handle(), at), 0);
  const int number = fcntl(static_cast<int>(low.Handle()), F_DUPFD, 1060);
  if (number < 0) GTEST_SKIP() << "no descriptor above 1024 allowed here";
  Socket high(number);

  EXPECT_EQ(WaitReadable(high.Handle(), 10), 0);
  Socket sender = Socket::Udp();
  ASSERT_EQ(SendTo(sender.Handle(), "x", 1, at), 1);
  EXPECT_EQ(WaitReadable(high.Handle(), 5000), 1);
}

// A namespace of the test's own with 20 links, each with an IPv4 address: the list
// holds an entry per link and IPv6 addresses ahead of and among the IPv4 ones, and
// the limit counts the IPv4 addresses alone.
class LinkNamespace {
 public:
  LinkNamespace() : name_("qxlinks" + std::to_string(getpid())) {
    if (std::system(("ip netns add " + name_ + " 2>/dev/null").c_str()) != 0) return;
    created_ = true;
    FILE* ip = popen(("ip -n " + name_ + " -batch - >/dev/null 2>&1").c_str(), "w");
    if (ip == nullptr) return;
    std::fprintf(ip, "link set lo up\n");
    for (int pair = 0; pair < 10; ++pair) {
      std::fprintf(ip, "link add qa%d type veth peer name qb%d\n", pair, pair);
      std::fprintf(ip, "addr add 10.77.0.%d/32 dev qa%d\naddr add 10.77.0.%d/32 dev qb%d\n", 2 * pair + 1, pair,
                   2 * pair + 2, pair);
      std::fprintf(ip, "link set qa%d up\nlink set qb%d up\n", pair, pair);
    }
    ready_ = pclose(ip) == 0;
  }
  ~LinkNamespace() {
    if (created_) std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
  }
  bool Ready() const { return ready_; }

  // Runs `body` on this thread inside the namespace; false when it cannot be entered.
  template <class Body>
  bool Inside(Body body) {
    const int home = open("/proc/self/ns/net", O_RDONLY);
    const int there = open(("/run/netns/" + name_).c_str(), O_RDONLY);
    const bool entered = home >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0;
    if (entered) {
      body();
      setns(home, CLONE_NEWNET);
    }
    if (home >= 0) close(home);
    if (there >= 0) close(there);
    return entered;
  }

 private:
  std::string name_;
  bool created_ = false;
  bool ready_ = false;
};

TEST(Sockets, LocalAddressesLimitCountsIpv4AddressesOnly) {
  LinkNamespace links;
  if (!links.Ready()) GTEST_SKIP() << "ip netns not permitted here";
  std::vector<Ipv4Address> addresses;
  ASSERT_TRUE(links.Inside([&] { addresses = LocalIpv4Addresses(16); }));
  ASSERT_EQ(addresses.size(), 16u);
  EXPECT_EQ(addresses[0], (Ipv4Address{127, 0, 0, 1}));
  std::set<int> hosts;
  for (std::size_t i = 1; i < addresses.size(); ++i) {
    EXPECT_TRUE(addresses[i][0] == 10 && addresses[i][1] == 77 && addresses[i][2] == 0) << i;
    hosts.insert(addresses[i][3]);
  }
  EXPECT_EQ(hosts.size(), 15u);
}
#endif

}  // namespace
}  // namespace qx
