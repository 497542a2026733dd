// The broadcast search from the namespace the fixture made: two simulated printers on
// their own links answer, and each address is reported.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/time.h"
#include "port/net/net_printer_search.h"

namespace qx {
namespace {

// Moves this thread (which then makes every socket of the test) into the namespace.
bool EnterHostNamespace() {
  const char* state = std::getenv("QX_NETNS_STATE");
  if (!state) return false;
  // The fixture names the host namespace in its ready file.
  std::ifstream ready(std::string(state) + "/ready");
  std::string host;
  if (!std::getline(ready, host) || host.empty()) return false;
  const int fd = open(("/var/run/netns/" + host).c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool entered = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return entered;
}

TEST(NetNamespaceSearch, EachPrinterIsFoundOnceOnItsLink) {
  if (!EnterHostNamespace()) GTEST_SKIP() << "no network namespace (ip netns not permitted)";
  NetPrinterSearch search;
  search.Open(nullptr, 0x10D9);
  std::vector<std::string> found;
  for (int round = 0; round < 2; ++round) {  // a second broadcast finds the same printers
    search.Broadcast();
    const std::int64_t end = SteadyMilliseconds() + 1500;
    while (SteadyMilliseconds() < end) {
      char text[16] = "";
      if (search.ReadReply(text, sizeof text) == 1 &&
          std::find(found.begin(), found.end(), text) == found.end()) {
        found.push_back(text);
      }
      SleepMilliseconds(5);
    }
  }
  search.Close();
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"10.66.1.2", "10.66.2.2"}));
}

}  // namespace
}  // namespace qx
