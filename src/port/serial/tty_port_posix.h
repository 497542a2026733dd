#pragma once

// Port kind 0 off Windows: a printer on a tty (serial:PATH), driven through termios
// with the serial kind's settings tables. Synchronous only, with no workers: every
// call goes straight to the device on the caller's thread, as the utility uses the
// serial kind (SyncMode 1). The device is opened for this port alone (an exclusive
// lock), as the Windows kind opens COM ports without sharing.

#include <string>

#include "platform/clock.h"
#include "port/placeholder_port.h"
#include "port/serial/serial_rules.h"

namespace qx {

class TQXTTY final : public TPlaceholderPort {
 public:
  // `clock` times the pause before closing and outlives the port.
  TQXTTY(int portId, std::string path, Clock& clock = SystemClock());
  ~TQXTTY() override;

  int Open() override;
  int Write(int tag, const char* data, int length, int* written) override;
  int Read(void* buffer, int length, int* got) override;
  int Close() override;
  int IsOpen() override { return fd_ >= 0 ? 1 : 0; }
  int IsReady() override { return fd_ >= 0 ? 1 : 0; }
  std::intptr_t GetHandle() override { return fd_; }
  int Configure(const PortSettings* settings) override;
  int SetSyncMode(int sync) override;
  int GetInputAvailable() override;
  void ClearInput() override;
  int SetHandshakeBypass(int on) override;
  // A tty answers none of the vendor driver's queries: the record stays empty.
  int GetDeviceInfo(void*) override { return 0; }

  const std::string& Path() const { return path_; }
  int SyncMode = 1;

  static constexpr int ClosePauseMs = 100;

 private:
  // Applies the line settings; `bypass` drops every handshake.
  bool ApplyLine(bool bypass);

  std::string path_;
  Clock& clock_;
  int fd_ = -1;
  std::uint32_t baudRate_ = 19200;
  std::uint8_t parity_ = 0;
  std::uint8_t stopBits_ = 0;
  int dataBits_ = 8;
  Handshake handshake_{0, 1, 0, 0, DtrControlHandshake, RtsControlDisable};
  std::uint32_t readMultiplier_ = 0;
  std::uint32_t readConstant_ = 0;
  std::uint32_t writeMultiplier_ = 0;
  std::uint32_t writeConstant_ = 2000;
};

}  // namespace qx
