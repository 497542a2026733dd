#pragma once

// Carries bytes both ways between a pty's far end and the printer engine on a thread
// of its own, until destroyed: a printer on the other side of a COM port.

#include <atomic>
#include <string>
#include <thread>

#include "platform/time.h"
#include "serial/pty_peer.h"
#include "sim/engine/printer_engine.h"

namespace qx::test {

class PtyBridge {
 public:
  PtyBridge(PtyPeer& peer, sim::PrinterEngine& printer) : peer_(peer), link_(printer), thread_([this] { Run(); }) {}
  PtyBridge(const PtyBridge&) = delete;
  PtyBridge& operator=(const PtyBridge&) = delete;
  ~PtyBridge() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    while (!stop_) {
      const std::string fromHost = peer_.ReceiveNow();
      if (!fromHost.empty()) link_.Write(fromHost);
      const sim::Bytes toHost = link_.Read();
      if (!toHost.empty()) peer_.Send(toHost);
      if (fromHost.empty() && toHost.empty()) SleepMilliseconds(1);
    }
  }

  PtyPeer& peer_;
  sim::HostLink link_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qx::test
