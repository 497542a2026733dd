#pragma once

#include "port/workerless_port.h"

namespace qx {

// Stands in for a port kind that this build does not have: it exists in the table,
// accepts settings, and never opens.
class TPlaceholderPort : public TWorkerlessPort {
 public:
  TPlaceholderPort(int portId, int kind) : TWorkerlessPort(portId, kind) {}

  int Open() override { return 0; }
  int Write(int, const char*, int, int* written) override { return Nothing(written); }
  int Read(void*, int, int* got) override { return Nothing(got); }
  int Close() override { return 1; }
  int GetDeviceInfo(void*) override { return 0; }
  int IsOpen() override { return 0; }
  int Configure(const PortSettings*) override { return 1; }
  int GetOutputBlockSize() override { return 1024; }
  int SetOutputBlockSize(int n) override { return n >= 1 && n <= MaxOutputBlockSize ? 1 : 0; }
  int GetInputBlockSize() override { return 1024; }
  int SetInputBlockSize(int n) override { return n >= 1 && n <= MaxInputBlockSize ? 1 : 0; }

 private:
  static int Nothing(int* count) {
    if (count) *count = 0;
    return 0;
  }
};

}  // namespace qx
