// A test double of the network search for the dialog tests: it sends nothing, counts
// the calls, and hands out the answers a test queued, one per ReadReply.

#include "fake_net_printer_search.h"

#include <cstring>

namespace qx {

namespace test {
FakeSearchState& FakeSearch() {
  static FakeSearchState state;
  return state;
}
}  // namespace test

NetPrinterSearch::NetPrinterSearch() = default;
NetPrinterSearch::~NetPrinterSearch() = default;

void NetPrinterSearch::Open(void* window, unsigned message) {
  auto& fake = test::FakeSearch();
  std::lock_guard<std::mutex> lock(fake.Lock);
  fake.Window = window;
  fake.Message = message;
  fake.Calls.push_back("Open");
}

void NetPrinterSearch::Broadcast() {
  auto& fake = test::FakeSearch();
  std::lock_guard<std::mutex> lock(fake.Lock);
  fake.Calls.push_back("Broadcast");
}

int NetPrinterSearch::ReadReply(char* addressText, std::size_t size) {
  auto& fake = test::FakeSearch();
  std::lock_guard<std::mutex> lock(fake.Lock);
  fake.Calls.push_back("ReadReply");
  if (fake.Answers.empty()) return 0;
  const auto [address, qualifies] = fake.Answers.front();
  fake.Answers.pop_front();
  std::strncpy(addressText, address.c_str(), size - 1);
  return qualifies ? 1 : 0;
}

void NetPrinterSearch::Close() {
  auto& fake = test::FakeSearch();
  std::lock_guard<std::mutex> lock(fake.Lock);
  fake.Calls.push_back("Close");
}

}  // namespace qx
