#pragma once

#include "port/qxccc.h"

namespace qx {

// Stands in for a port kind that this build does not have: it exists in the table,
// accepts settings, and never opens.
class TPlaceholderPort : public TQXCCC {
 public:
  TPlaceholderPort(int portId, int kind) : TQXCCC(portId, kind) {}

  int Open() override { return 0; }
  int Write(int, const char*, int, int* written) override { return Nothing(written); }
  int Read(void*, int, int* got) override { return Nothing(got); }
  int Close() override { return 1; }
  int DeviceRequest() override { return 0; }
  int GetDeviceInfo(void*) override { return 0; }
  int IsOpen() override { return 0; }
  int IsReady() override { return 1; }
  std::intptr_t GetHandle() override { return 0; }
  int Configure(const PortSettings*) override { return 1; }
  int SetSyncMode(int sync) override { return sync; }
  int GetOutputPending() override { return 0; }
  void ClearOutput() override {}
  void ResumeOutput() override {}
  void SuspendOutput() override {}
  int GetOutputBlockSize() override { return 1024; }
  int SetOutputBlockSize(int n) override { return n >= 1 && n <= MaxOutputBlockSize ? 1 : 0; }
  int GetInputAvailable() override { return 0; }
  void ClearInput() override {}
  void ResumeInput() override {}
  void SuspendInput() override {}
  int GetInputBlockSize() override { return 1024; }
  int SetInputBlockSize(int n) override { return n >= 1 && n <= MaxInputBlockSize ? 1 : 0; }
  int SetHandshakeBypass(int) override { return 0; }

 private:
  static int Nothing(int* count) {
    if (count) *count = 0;
    return 0;
  }
};

}  // namespace qx
