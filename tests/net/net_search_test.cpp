// The search's reply check, over loopback: datagrams from a test sender on its own
// 127.x.y.z address reach a search socket bound to another one.

#include "port/net/net_printer_search.h"

#include <gtest/gtest.h>

#include <string>

#include "port/net/net_protocol.h"

namespace qx {

struct NetPrinterSearchTestAccess {
  // A search socket on a loopback address, in place of the machine's interfaces.
  static Ipv4Endpoint AddLoopbackSocket(NetPrinterSearch& search, const Ipv4Address& address) {
    Socket s = Socket::Udp();
    SetNonBlocking(s.Handle(), true);
    EXPECT_EQ(Bind(s.Handle(), {address, 0}), 0);
    Ipv4Endpoint bound;
    LocalEndpoint(s.Handle(), bound);
    search.sockets_.insert(search.sockets_.begin(), std::move(s));
    return bound;
  }
  static std::size_t Sockets(const NetPrinterSearch& search) { return search.sockets_.size(); }
  static SocketHandle First(const NetPrinterSearch& search) { return search.sockets_.front().Handle(); }
};

namespace {

#ifdef _WIN32
// Wine binds a datagram socket on 127.x.y.z to 0.0.0.0: its datagrams leave from 127.0.0.1.
const std::string SenderText = "127.0.0.1";
#else
const std::string SenderText = "127.6.0.2";
#endif

std::string Reply(char letter, std::uint16_t result, std::string data, int announced = -1) {
  std::string p = "ZEMAK";
  p += letter;
  p += std::string(4, '\0');
  p += static_cast<char>(result >> 8);
  p += static_cast<char>(result & 0xFF);
  const int length = announced >= 0 ? announced : static_cast<int>(data.size());
  p += static_cast<char>(length >> 8);
  p += static_cast<char>(length & 0xFF);
  return p + data;
}

std::string Identity(const std::string& text, std::uint8_t byte61 = 0, int size = 144) {
  std::string data(static_cast<std::size_t>(size), '\0');
  data.replace(0, text.size(), text);
  if (size > 61) data[61] = static_cast<char>(byte61);
  return data;
}

class SearchReplyTest : public ::testing::Test {
 protected:
  SocketLibrary library;
  NetPrinterSearch search;
  Ipv4Endpoint at;
  Socket printer = Socket::Udp();

  void SetUp() override {
    at = NetPrinterSearchTestAccess::AddLoopbackSocket(search, {127, 6, 0, 1});
    ASSERT_EQ(Bind(printer.Handle(), {{127, 6, 0, 2}, 0}), 0);
  }

  // Sends one datagram and reads it back through the search.
  int Answer(const std::string& datagram, std::string* address = nullptr) {
    EXPECT_EQ(SendTo(printer.Handle(), datagram.data(), static_cast<int>(datagram.size()), at),
              static_cast<int>(datagram.size()));
    char text[16] = "unchanged";
    EXPECT_GT(WaitReadable(NetPrinterSearchTestAccess::First(search), 5000), 0);
    const int result = search.ReadReply(text, sizeof text);
    if (address) *address = text;
    return result;
  }
};

// A well-formed reply reports its sender, and qualifies by its identity; a malformed
// one is rejected without an address.
TEST_F(SearchReplyTest, RepliesQualifyByIdentityAndOnlyWellFormedOnesGiveTheSender) {
  const struct {
    std::string datagram;
    int result;
    bool wellFormed;
  } replies[] = {
      // 0x0090 = 144 data bytes: the length check compares unsigned values.
      {Reply('p', 0, Identity("NX-L72")), 1, true},
      // An extended interface qualifies by bit 4 of byte 61.
      {Reply('p', 0xE000, Identity("NX-G72", 0x0C)), 1, true},
      {Reply('p', 0xE000, Identity("NX-G72", 0x08)), 0, true},
      {Reply('p', 0, Identity("XY-L72")), 0, true},
      {Reply('p', 0, Identity("NX-L72"), 143), 0, false},
      {Reply('p', 0x0001, Identity("NX-L72")), 0, false},
      {Reply('q', 0, Identity("NX-L72")), 0, false},
      {"ZEMAKp", 0, false},
  };
  for (const auto& reply : replies) {
    std::string address;
    EXPECT_EQ(Answer(reply.datagram, &address), reply.result) << &reply - replies;
    EXPECT_EQ(address, reply.wellFormed ? SenderText : "unchanged") << &reply - replies;
  }
}

// The length field against the datagram's size, on both sides of the byte boundaries:
// only a field equal to the number of data bytes carried passes (a reply announcing 0,
// or 0x0090 while carrying 400 bytes, is not a search reply).
TEST(SearchReply, DataLengthMustEqualTheBytesCarried) {
  for (int size : {0, 1, 4, 61, 62, 143, 144, 145, 255, 256, 257, 400, 498, 512, 4096}) {
    std::string data(static_cast<std::size_t>(size), '\0');
    if (size >= 4) data.replace(0, 4, "NX-L");
    for (int announced : {size, 0, 0x90, size & 0xFF, size & 0xFF00, size + 1, size - 1, size + 256, size - 256}) {
      if (announced < 0 || announced > 0xFFFF) continue;
      const std::string datagram = Reply('p', 0, data, announced);
      bool wellFormed = true;
      const int result = CheckSearchReply(reinterpret_cast<const std::uint8_t*>(datagram.data()),
                                          static_cast<int>(datagram.size()), &wellFormed);
      const bool matches = announced == size;
      EXPECT_EQ(wellFormed, matches) << size << " bytes announced as " << announced;
      EXPECT_EQ(result, matches && size >= 4 ? 1 : 0) << size << " bytes announced as " << announced;
    }
  }
}

TEST(SearchReply, NoSocketsNoReply) {
  NetPrinterSearch search;
  char text[16] = "";
  EXPECT_EQ(search.ReadReply(text, sizeof text), 0);
  search.Broadcast();  // nothing to send from
  EXPECT_EQ(NetPrinterSearchTestAccess::Sockets(search), 0u);
}

TEST(SearchReply, CheckOfTheHeaderBytes) {
  const std::string good = Reply('p', 0, Identity("NX-L", 0, 4));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(good.data());
  EXPECT_EQ(CheckSearchReply(bytes, static_cast<int>(good.size())), 1);
  std::string bad = good;
  bad[11] = 1;  // result 0x0001
  EXPECT_EQ(CheckSearchReply(reinterpret_cast<const std::uint8_t*>(bad.data()), static_cast<int>(bad.size())), 0);
  bad = good;
  bad[7] = 1;  // target number
  EXPECT_EQ(CheckSearchReply(reinterpret_cast<const std::uint8_t*>(bad.data()), static_cast<int>(bad.size())), 0);
}

}  // namespace
}  // namespace qx
