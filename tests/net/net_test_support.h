#pragma once

// Shortened waits for the network kind: a reply wait of 3000 ms really lasts
// ReplyRealMs, and the mandated pauses are recorded and cut short.

#include <algorithm>
#include <atomic>
#include <string>

#include "app/main_window_logic.h"
#include "platform/sockets.h"
#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "platform/time.h"
#include "port/net/net_status_channel.h"

namespace qx::test {

class ShortNetTiming : public NetTiming {
 public:
#ifdef _WIN32
  static constexpr int ReplyRealMs = 1000;  // Wine's loopback is slower to start
#else
  static constexpr int ReplyRealMs = 400;
#endif
  std::atomic<int> LastReplyWaitAsked{0};
  std::atomic<long long> SleptMs{0};

  void Sleep(int ms) override {
    SleptMs += ms;
    SleepMilliseconds(std::min(ms, 2));
  }
  int ReplyWaitMs(int ms) override {
    LastReplyWaitAsked = ms;
    return std::min(ms, ReplyRealMs);
  }
};

// A port table whose network kind is the real one on `timing`; the other kinds never open.
inline PortTable::PortFactory NetworkPorts(NetTiming& timing) {
  return [&timing](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindNetwork) return std::make_unique<TQXNET>(kind, TQXNET::WindowSource{}, timing);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  };
}

// Adds the printer at `address` to the port list as Add Port does, and selects it.
inline void SelectNetworkPrinter(MainWindowLogic& logic, const Ipv4Address& address) {
  PortSettings net = logic.CurrentSettings();
  net.PortType = KindNetwork;
  std::copy(address.begin(), address.end(), net.IpAddress);
  logic.AddPortEntry(std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
                         std::to_string(address[2]) + "." + std::to_string(address[3]),
                     net);
  logic.SelectPort(logic.Ports().Count() - 1);
  logic.PortComboBoxChange();
}

}  // namespace qx::test
