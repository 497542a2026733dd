#pragma once

// The network kind on a fast clock: a reply wait of 3000 ms lasts 3000 / NetClockSpeed
// real milliseconds, and the settle pauses pass at once (and are counted).

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
#include "support/paced_clock.h"

namespace qx::test {

#ifdef _WIN32
inline constexpr int NetClockSpeed = 3;  // Wine's loopback is slower to start
#else
inline constexpr int NetClockSpeed = 8;
#endif

// A port table whose network kind is the real one on `clock`; the other kinds never open.
inline PortTable::PortFactory NetworkPorts(Clock& clock) {
  return [&clock](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindNetwork) return std::make_unique<TQXNET>(kind, TQXNET::WindowSource{}, clock);
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
