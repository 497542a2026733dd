#pragma once

#include <cstdint>
#include <cstdio>

#include "port/device/device_calls.h"
#include "port/device/pending_io.h"
#include "port/workerless_port.h"
#include "port/usb/usb_rules.h"

namespace qx {

// One printer behind the operating system's USB printing driver: the n-th present USB
// printer interface, opened exclusively for overlapped I/O, written with a time limit
// and the printer's vendor requests around each write, read in whole 512-byte units
// with the surplus kept for the following reads of the same opening.
class QX_USBPrinterClass {
 public:
  explicit QX_USBPrinterClass(DeviceCalls& calls);
  QX_USBPrinterClass(const QX_USBPrinterClass&) = delete;
  QX_USBPrinterClass& operator=(const QX_USBPrinterClass&) = delete;
  ~QX_USBPrinterClass();

  // Opens the interface at DeviceIndex, or `path` when one is given. 1 also when open.
  int Open(const char* path = nullptr);
  // 1 when the write was handed over or timed out as the printer was told; `count` is
  // then what the printer reports it took (judge success by it). 0 when a request was
  // refused; `count` is then 0.
  int Write(const char* data, int length, std::uint32_t& count);
  // Hands out kept bytes first, else reads one unit (or whole units). 1 also when fewer
  // bytes (or none) came; 0 only for a bad request or a closed device with nothing kept.
  int Read(void* buffer, int length, int& got);
  int Close();
  // The vendor requests through the two printer-class controls.
  bool SetCommand(std::uint8_t request);
  bool GetCommand(std::uint8_t request, std::uint32_t& answer);
  bool DeviceOpen() const { return handle_.Valid(); }
  // The diagnostic listing of the present USB printer interfaces.
  void ListDevices(std::FILE* out);
  int PendingCount() const { return pendingCount_; }

  std::uint32_t WriteTimeoutConstant = 2000;
  std::uint32_t WriteTimeoutMultiplier = 0;
  int DeviceIndex = 0;

  // A read that the driver keeps pending this long is cancelled; what came so far is
  // kept. The reply reader polls byte by byte with its own limit, so a short wait here
  // costs nothing.
  static constexpr std::uint32_t PendingReadLimitMs = 100;
  static constexpr int ListingSlots = 64;

 private:
  // One overlapped read of `size` bytes, bounded by PendingReadLimitMs, copied to
  // `buffer`; bytes read.
  std::uint32_t Transfer(void* buffer, std::uint32_t size);
  // Cancels the write in flight, waiting for it at most CancelLimitMs.
  void CancelWrite();

  DeviceCalls& calls_;
  SeamHandle handle_;
  // The port's own records and buffers: a request the driver never ends is given up
  // with them, never with a caller's memory.
  std::unique_ptr<PendingIo> write_;
  std::unique_ptr<PendingIo> read_;
  std::uint8_t pending_[usbprint::ReadUnit] = {};
  int pendingCount_ = 0;
};

// Port kind 4: a thin shell over its QX_USBPrinterClass. No workers, no queues, no
// notifications; reads and writes run on the caller's thread.
class TQXUSBPRN : public TWorkerlessPort {
 public:
  TQXUSBPRN(int portId, DeviceCalls& calls);
  ~TQXUSBPRN() override;

  int Open() override;
  int Write(int tag, const char* data, int length, int* written) override;
  int Read(void* buffer, int length, int* got) override;
  int Close() override;
  int DeviceRequest() override;
  // Takes no record: writes the device listing to standard output. Always 0.
  int GetDeviceInfo(void* info) override;
  int IsOpen() override { return 0; }
  int Configure(const PortSettings* settings) override;
  int GetOutputBlockSize() override { return 0; }
  int SetOutputBlockSize(int) override { return 1; }
  int GetInputBlockSize() override { return 0; }
  int SetInputBlockSize(int) override { return 1; }

  QX_USBPrinterClass UsbPrinterDevice;
};

}  // namespace qx
