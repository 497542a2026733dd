#pragma once

// A synchronous port kind over the simulated printer's in-process link, used only by
// tests: the real exchange code talks through the real port table to qxsim's engine.
// Open fails while the printer is unreachable (restarting or switched off), as a
// device that is not there would.

#include <atomic>
#include <memory>
#include <string_view>

#include "port/placeholder_port.h"
#include "sim/engine/printer_engine.h"

namespace qx::test {

class TSimPort final : public TPlaceholderPort {
 public:
  TSimPort(int kind, sim::PrinterEngine& printer) : TPlaceholderPort(kind, kind), printer_(printer) {}
  ~TSimPort() override { Close(); }

  // While false, every write is refused (a port that cannot send).
  std::atomic<bool> AcceptWrites{true};
  // When above 0, the write with this number (counted over the port's whole life,
  // from 1) is refused and the others go through.
  int FailWriteNumber = 0;
  int Writes = 0;
  int Opens = 0;

  int Open() override {
    if (link_) return 1;
    ++Opens;
    if (!printer_.Reachable()) return 0;
    link_ = std::make_unique<sim::HostLink>(printer_);
    NotifyOpened();
    return 1;
  }
  int Close() override {
    if (!link_) return 1;
    link_.reset();
    NotifyClosed();
    return 1;
  }
  int IsOpen() override { return link_ ? 1 : 0; }
  int Write(int, const char* data, int length, int* written) override {
    const bool refused = ++Writes == FailWriteNumber;
    const bool sent =
        link_ && length > 0 && AcceptWrites && !refused && link_->Write(std::string_view(data, length));
    if (written) *written = sent ? length : 0;
    return sent ? 1 : 0;
  }
  int Read(void* buffer, int length, int* got) override {
    int n = 0;
    if (link_ && length > 0) {
      const sim::Bytes bytes = link_->Read(static_cast<std::size_t>(length));
      bytes.copy(static_cast<char*>(buffer), bytes.size());
      n = static_cast<int>(bytes.size());
    }
    if (got) *got = n;
    return n > 0 && n == length ? 1 : 0;
  }
  int Configure(const PortSettings* settings) override {
    LastSettings = *settings;
    return 1;
  }
  PortSettings LastSettings;

 private:
  sim::PrinterEngine& printer_;
  std::unique_ptr<sim::HostLink> link_;
};

}  // namespace qx::test
