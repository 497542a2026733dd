#pragma once

#include "port/qxccc.h"

namespace qx {

// The operations that have nothing to act on in a kind without worker threads or a
// send queue (the USB printer-class kind, the port-service kind and the placeholder):
// the mode is only handed back, nothing is pending, there is nothing to suspend,
// resume or clear, the device always counts as ready, and there is no handshake to
// bypass and no request without data.
class TWorkerlessPort : public TQXCCC {
 public:
  using TQXCCC::TQXCCC;

  int DeviceRequest() override { return 0; }
  int IsReady() override { return 1; }
  std::intptr_t GetHandle() override { return 0; }
  int SetSyncMode(int sync) override { return sync; }
  int GetOutputPending() override { return 0; }
  void ClearOutput() override {}
  void ResumeOutput() override {}
  void SuspendOutput() override {}
  int GetInputAvailable() override { return 0; }
  void ClearInput() override {}
  void ResumeInput() override {}
  void SuspendInput() override {}
  int SetHandshakeBypass(int) override { return 0; }
};

}  // namespace qx
