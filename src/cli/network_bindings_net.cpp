#include <algorithm>
#include <cstdio>

#include "cli/platform_bindings.h"
#include "platform/time.h"
#include "port/net/net_printer_search.h"
#include "port/net/net_status_channel.h"

namespace qx::cli {

namespace {

// The Add Port dialog's search without a window: the sockets are left non-blocking
// and polled until the wait is over.
bool SearchNetwork(int waitMs, std::vector<std::string>& addresses, std::string&) {
  NetPrinterSearch search;
  search.Open(nullptr, 0);
  search.Broadcast();
  const std::int64_t end = SteadyMilliseconds() + waitMs;
  while (SteadyMilliseconds() < end) {
    char text[32] = {};
    if (search.ReadReply(text, sizeof text) == 1) {
      if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.push_back(text);
      continue;  // more may be waiting
    }
    SleepMilliseconds(10);
  }
  search.Close();
  return true;
}

bool NetworkInfo(TQXCCC& port, InfoFields& fields) {
  NetDeviceInfo info;
  if (port.GetDeviceInfo(&info) != 1) return false;
  fields = {
      {"Name", info.Name},
      {"MacAddress", info.MacAddress},
      {"HardVersion", info.HardVersion},
      {"SoftVersion", info.SoftVersion},
      {"HardVersionNumber", std::to_string(info.HardVersionNumber)},
      {"SoftVersionNumber", std::to_string(info.SoftVersionNumber)},
      {"StatusFlag", std::to_string(info.StatusFlag)},
      {"LegacyReply", std::to_string(info.LegacyReply)},
      {"ModelCode", info.ModelCode},
  };
  return true;
}

bool ResolveHost(const std::string& name, std::uint8_t (&address)[4], std::string& error) {
  SocketLibrary library;
  Ipv4Address found{};
  if (!ResolveIpv4(name, found, error)) return false;
  for (int i = 0; i < 4; ++i) address[i] = found[i];
  return true;
}

}  // namespace

void BindNetwork(Environment& env) {
  env.SearchNetwork = SearchNetwork;
  env.ResolveHost = ResolveHost;
  env.NetworkInfo = NetworkInfo;
}

}  // namespace qx::cli
