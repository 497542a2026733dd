// The port-service kind's pure rules: addresses, names, URLs, the bounded port-list
// walk, the send time-out, the listing lines and the library's fallback path.

#include "port/service/service_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/port_service/port_list_answer.h"

namespace qx {
namespace {

using test::PortListAnswer;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::vector<std::string> Names(const std::string& answer, std::size_t size) {
  std::vector<std::string> names;
  for (const WideText& name : PortListNames(Bytes(answer), size)) names.push_back(Narrow(name));
  return names;
}

TEST(ServiceRules, OnlyTheDefaultAndTheZeroAddressAreLocal) {
  const std::uint8_t fallback[4] = {192, 168, 192, 168};
  const std::uint8_t zero[4] = {0, 0, 0, 0};
  EXPECT_FALSE(IsRemoteAddress(fallback));
  EXPECT_FALSE(IsRemoteAddress(zero));
  for (const auto& ip : std::vector<std::array<std::uint8_t, 4>>{
           {10, 0, 0, 5}, {192, 168, 192, 169}, {0, 0, 0, 1}, {168, 192, 168, 192}, {127, 0, 0, 1}}) {
    const std::uint8_t address[4] = {ip[0], ip[1], ip[2], ip[3]};
    EXPECT_TRUE(IsRemoteAddress(address)) << int(ip[0]) << "." << int(ip[3]);
  }
  const std::uint8_t remote[4] = {10, 0, 0, 5};
  const std::uint8_t high[4] = {255, 255, 255, 255};
  EXPECT_EQ(AddressText(remote), u"10.0.0.5");
  EXPECT_EQ(AddressText(high), u"255.255.255.255");
}

TEST(ServiceRules, GeneratedPortNames) {
  EXPECT_EQ(GeneratedPortName(3), u"PVDPRT003");
  EXPECT_EQ(GeneratedPortName(0), u"PVDPRT000");
  EXPECT_EQ(GeneratedPortName(127), u"PVDPRT127");
  EXPECT_EQ(GeneratedPortName(1000), u"PVDPRT1000");
}

TEST(ServiceRules, Urls) {
  EXPECT_EQ(PortOpenUrl(false, u"", u"PVDPRT003"), u"pipe://QX/PVDPRT003");
  EXPECT_EQ(PortOpenUrl(false, u"10.0.0.5", u"PVDPRT003"), u"pipe://QX/PVDPRT003");
  EXPECT_EQ(PortOpenUrl(true, u"10.0.0.5", u"PVDPRT003"), u"tcp://10.0.0.5/QX/PVDPRT003");
  EXPECT_EQ(PortListUrl(false, u"10.0.0.5"), u"pipe://QX");
  EXPECT_EQ(PortListUrl(true, u"10.0.0.5"), u"tcp://10.0.0.5/QX/");
  EXPECT_EQ(PortPropertyUrl(false, u"", u"P1"), u"pipe://QX/P1/");
  EXPECT_EQ(PortPropertyUrl(true, u"10.0.0.5", u"P1"), u"tcp://10.0.0.5/QX/P1/");

  // The open URL is at most 63 characters.
  const WideText longName(40, u'N');
  const WideText url = PortOpenUrl(true, u"255.255.255.255", longName);
  EXPECT_EQ(url.size(), MaxOpenUrlLength);
  EXPECT_EQ(url.substr(0, 25), u"tcp://255.255.255.255/QX/");
}

TEST(ServiceRules, PortListWalk) {
  const std::string three = PortListAnswer({"PVDPRT001", "USB001", "LAN-7"});
  EXPECT_EQ(Names(three, three.size()), (std::vector<std::string>{"PVDPRT001", "USB001", "LAN-7"}));
  EXPECT_TRUE(Names(PortListAnswer({}), 2).empty());
  // Entries after the closing empty entry are not part of the list.
  const std::string afterEnd = PortListAnswer({"A"}) + PortListAnswer({"B"});
  EXPECT_EQ(Names(afterEnd, afterEnd.size()), (std::vector<std::string>{"A"}));

  EXPECT_EQ(Narrow(*PortListEntry(Bytes(three), three.size(), 0)), "PVDPRT001");
  EXPECT_EQ(Narrow(*PortListEntry(Bytes(three), three.size(), 1)), "USB001");
  EXPECT_EQ(Narrow(*PortListEntry(Bytes(three), three.size(), 2)), "LAN-7");
  EXPECT_FALSE(PortListEntry(Bytes(three), three.size(), 3));
  EXPECT_FALSE(PortListEntry(Bytes(three), three.size(), -1));
}

TEST(ServiceRules, PortListWalkStaysInsideTheAnswer) {
  // 1024 bytes of names, each with its NUL, and no closing empty entry: 64 entries of
  // 7 characters fill it exactly. The walk looks only at the given size, so a buffer
  // that goes on past it (here: more names) is never read beyond.
  std::vector<std::string> names;
  for (int i = 0; i < 70; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "PORT%03d", i);
    names.push_back(name);
  }
  const std::string answer = PortListAnswer(names, false);
  const std::vector<std::string> seen = Names(answer, ServiceAnswerBytes);
  ASSERT_EQ(seen.size(), 64u);
  EXPECT_EQ(seen.back(), "PORT063");
  EXPECT_FALSE(PortListEntry(Bytes(answer), ServiceAnswerBytes, 64));

  // A name cut off by the end of the answer (no NUL) is not a name.
  std::string cut = PortListAnswer({"AB"}, false) + std::string("C\0D\0E\0", 6);
  EXPECT_EQ(Names(cut, cut.size()), (std::vector<std::string>{"AB"}));
  // An answer without any NUL, and an odd size.
  const std::string full(ServiceAnswerBytes, 'x');
  EXPECT_TRUE(Names(full, full.size()).empty());
  EXPECT_EQ(Names(PortListAnswer({"AB"}), 7), (std::vector<std::string>{"AB"}));
  EXPECT_TRUE(PortListNames(nullptr, 1024).empty());
}

TEST(ServiceRules, ALongEntryIsCutToTheLongestPortName) {
  const std::string answer = PortListAnswer({std::string(40, 'L')});
  const auto name = PortListEntry(Bytes(answer), answer.size(), 0);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), MaxServicePortNameLength);
}

TEST(ServiceRules, PropertyRequestsAndAnswers) {
  EXPECT_EQ(PropertyRequest("PortType").size(), 18u);
  EXPECT_EQ(PropertyRequest("PortName").size(), 18u);
  EXPECT_EQ(PropertyRequest("ModelName").size(), 20u);
  EXPECT_EQ(PropertyRequest("Id.ModelName").size(), 26u);
  const std::vector<unsigned char> request = PropertyRequest("Ab");
  EXPECT_EQ(request, (std::vector<unsigned char>{'A', 0, 'b', 0, 0, 0}));

  const std::string answer = PortListAnswer({"USB"});
  EXPECT_EQ(AnswerText(Bytes(answer), answer.size()), u"USB");
  // No NUL: the text ends with the answer.
  const std::string unterminated("Q\0X\0", 4);
  EXPECT_EQ(AnswerText(Bytes(unterminated), unterminated.size()), u"QX");
  EXPECT_EQ(AnswerText(Bytes(unterminated), 3), u"Q");
}

TEST(ServiceRules, WriteTimeout) {
  EXPECT_EQ(ServiceWriteTimeout(5, 3, 100), 115u);
  EXPECT_EQ(ServiceWriteTimeout(39, 0, 2000), 2000u);
  EXPECT_EQ(ServiceWriteTimeout(0, 50, 7), 7u);
  // Never wraps, and never reaches the value a library may take as "no limit".
  EXPECT_EQ(ServiceWriteTimeout(0x7FFFFFFF, 0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFEu);
  EXPECT_EQ(ServiceWriteTimeout(2, 0x80000000u, 0), 0xFFFFFFFEu);
}

TEST(ServiceRules, ListingLines) {
  EXPECT_EQ(PipeListingLine(u"PVDPRT001"), "  PortHandler pipe  PVDPRT001  ");
  EXPECT_EQ(TcpListingLine(u"PVDPRT001", u"10.0.0.5"), "  PortHandler tcp   PVDPRT001  10.0.0.5\n");
  EXPECT_EQ(PropertyField(u"USB"), "  USB");
  EXPECT_EQ(LastPropertyField(u"QX-K40VII"), "  QX-K40VII\n");
  EXPECT_EQ(PropertyField(u"\u00e9t\u00e9"), "  ?t?");
}

TEST(ServiceRules, FallbackLibraryPath) {
  ProgramFilesLookup lookup;
  EXPECT_EQ(FallbackLibraryPath(lookup), u"C:\\Program Files\\ZEMAK\\ZTovel\\ZTovel.dll");
  lookup.KeyOpened = true;
  lookup.ValueRead = true;
  lookup.Value = u"D:\\Programme";
  EXPECT_EQ(FallbackLibraryPath(lookup), u"D:\\Programme\\ZEMAK\\ZTovel\\ZTovel.dll");
  // The key opens but the value cannot be read, or is empty: the default folder, not a
  // path from the root of the current drive.
  lookup.ValueRead = false;
  EXPECT_EQ(FallbackLibraryPath(lookup), u"C:\\Program Files\\ZEMAK\\ZTovel\\ZTovel.dll");
  lookup.ValueRead = true;
  lookup.Value.clear();
  EXPECT_EQ(FallbackLibraryPath(lookup), u"C:\\Program Files\\ZEMAK\\ZTovel\\ZTovel.dll");
}

}  // namespace
}  // namespace qx
