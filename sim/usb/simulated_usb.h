#pragma once

// Two simulated USB drivers behind the device seam, each with the simulated printer's
// engine behind its devices: the vendor driver (fixed channel names, interface paths,
// the vendor I/O controls with their exact sizes) and the USB printing driver
// (interface paths, exclusive overlapped handles, the vendor SET/GET requests, writes
// that can stall, reads in whole units). Both log what the port did to them, and count
// calls made with the wrong sizes or flags as bad calls.
//
// Time comes from a Clock: a fake one (sleeps move it) for the tests of time limits,
// or a host's clock for the exchanges. Every member may be called from any thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "port/device/device_calls.h"
#include "port/usb/usb_rules.h"
#include "sim/engine/printer_engine.h"

namespace qx::test {

// Handles, events, DOS names, time and the call log that both drivers share.
class SimulatedDriver : public DeviceCalls {
 public:
  explicit SimulatedDriver(Clock& time) : time_(time) {}

  DeviceHandle CreateEventA(bool manualReset, bool initialState) override;
  bool CloseHandle(DeviceHandle handle) override;
  std::uint32_t QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) override;
  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(time_.NowMilliseconds()); }
  void Sleep(std::uint32_t milliseconds) override { time_.SleepMilliseconds(static_cast<int>(milliseconds)); }

  // What the port did, one line per call ("open \\.\QXUSB000\QX flags 0x0", "write 5",
  // "ioctl 0x222010 in 16 out 0", "set 11", "get 12", "cancel", "read 512", "close QX").
  std::vector<std::string> Log() const;
  // The lines of the log that start with one of `starts`.
  std::vector<std::string> Log(std::initializer_list<const char*> starts) const;
  void ClearLog();
  // Calls made with sizes, flags or handles the driver does not take.
  int BadCalls() const;
  std::vector<std::string> BadCallLog() const;
  // Handles (files and events) still open.
  int OpenHandles() const;

  // The target list QueryDosDeviceA gives for a name; Dos names not set fail.
  void SetDosNames(const std::string& name, std::vector<std::string> targets);
  // The next CreateEventA calls that fail.
  std::atomic<int> FailEvents{0};

 protected:
  struct Object {
    bool IsEvent = false;
    int File = -1;          // the driver's id for the opened device file
    std::string Channel;    // vendor: "QX" or "QD"
    bool Overlapped = false;
  };
  // All below need lock_.
  DeviceHandle AddObject(Object object);
  Object* Find(DeviceHandle handle);
  void Note(std::string line) { log_.push_back(std::move(line)); }
  void Bad(std::string line);
  virtual void OnClose(const Object&) {}

  Clock& time_;
  mutable std::mutex lock_;

 private:
  std::map<DeviceHandle, Object> objects_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::vector<std::string> log_;
  std::vector<std::string> bad_;
  std::map<std::string, std::vector<std::string>> dosNames_;
};

// One device on the vendor driver.
struct VendorDevice {
  std::unique_ptr<sim::HostLink> Link;
  bool Present = true;            // false: removed, every call on it fails
  bool FixedNames = true;         // reachable as "\\.\QXUSB%03d\QX" / "\QD"
  bool HasInterface = true;       // listed under the vendor interface class
  bool DetailFails = false;       // listed, but without a readable path
  std::string InterfacePath;
  std::string RefuseTimeoutsOn;   // "QX" or "QD": that channel refuses IOCTL_VUSB_SET_TIMEOUTS
  // Writes: the next SemTimeoutWrites time out in the driver after SemTransferred bytes;
  // the next FailWrites fail at once with FailError, each after moving FailTransferred
  // bytes (reported in the count); each write takes at most MaxPerWrite.
  int SemTimeoutWrites = 0;
  std::uint32_t SemTransferred = 0;
  int FailWrites = 0;
  std::uint32_t FailError = win::ErrorGenFailure;
  std::uint32_t FailTransferred = 0;
  std::uint32_t MaxPerWrite = 0;
  // Writes wait in the driver, without an answer, until this is switched off; then
  // they take the whole piece.
  bool NeverAnswerWrites = false;
  // Reads wait in the driver, without an answer, until this is switched off (by
  // Change; closing the handle does not end them); then they end with LateAnswer.
  bool NeverAnswerReads = false;
  std::string LateAnswer;
  // Status word; HeldReads status reads still show bit 0x02 after it is switched off
  // (-1: it never goes).
  std::uint16_t Status = 0;
  int HeldReads = 0;
  bool BypassOn = false;
  std::uint32_t DeviceState = 0x04;
  std::string DeviceDescriptor;   // 18 bytes
  std::uint32_t DriverVersion = 0x0105;
  std::string StringDescriptors;  // the run the driver returns (cut to the caller's size)
  std::string ExtraString;
  bool StringsFail = false;
  // Seen by the driver.
  DriverTimeouts Timeouts;
  std::vector<std::uint32_t> ReadSizes;
  std::map<std::string, int> WritesOn;  // writes per channel
  std::uint32_t LastTransferred = 0;
};

class SimVendorUsbDriver final : public SimulatedDriver {
 public:
  SimVendorUsbDriver(Clock& time, sim::PrinterEngine& engine);

  // Adds device `number` with a printer link on the engine; the interface index is the
  // order of adding among the devices with an interface.
  void AddDevice(int number);
  // Changes a device under the driver's lock.
  void Change(int number, const std::function<void(VendorDevice&)>& change);
  // Reads and writes waiting in the driver now (NeverAnswerReads, NeverAnswerWrites).
  int WaitingCalls() const;
  // Reads a device's state under the lock.
  template <class T>
  T Get(int number, const std::function<T(const VendorDevice&)>& get) const {
    std::lock_guard lock(lock_);
    return get(devices_.at(number));
  }
  static std::string InterfacePathFor(int number);

  DeviceHandle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                           std::uint32_t flags, std::uint32_t& error) override;
  std::uint32_t ReadFile(DeviceHandle device, void* buffer, std::uint32_t size, std::uint32_t& count,
                         DeviceOverlapped* overlapped) override;
  std::uint32_t WriteFile(DeviceHandle device, const void* data, std::uint32_t size, std::uint32_t& count,
                          DeviceOverlapped* overlapped) override;
  std::uint32_t DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                void* out, std::uint32_t outSize, std::uint32_t& returned) override;
  std::uint32_t GetOverlappedResult(DeviceHandle, DeviceOverlapped*, std::uint32_t&, bool) override;
  std::uint32_t CancelIo(DeviceHandle device) override;
  bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) override;

 private:
  // The device behind an open file handle, or null (error set) when gone.
  VendorDevice* DeviceOf(DeviceHandle handle, std::uint32_t& error, Object** object = nullptr);

  sim::PrinterEngine& engine_;
  std::map<int, VendorDevice> devices_;
  std::condition_variable callsReleased_;
  int waitingCalls_ = 0;
  std::vector<int> interfaceOrder_;
};

// One printer on the USB printing driver.
struct UsbPrinter {
  std::unique_ptr<sim::HostLink> Link;
  std::string InterfacePath;
  bool Present = true;
  bool DetailFails = false;
  bool RefuseBegin = false;
  // The next StallWrites writes stay pending until cancelled; other writes complete
  // after WritePolls polls. Reads with data complete after ReadPolls polls; without
  // data they stay pending.
  int StallWrites = 0;
  int WritePolls = 0;
  int ReadPolls = 0;
  std::optional<std::uint32_t> CountAnswer;  // instead of the bytes the last write took
  // A driver that never ends a cancelled request: CancelIo leaves it pending, and it
  // outlives the handle until CompleteKept.
  bool KeepCancelled = false;
  std::vector<std::string> DosNames;         // QueryDosDeviceA of the path less "\\?\"
  bool DosQueryFails = false;
  // Seen by the driver.
  bool Opened = false;
  std::uint32_t LastTaken = 0;
  std::vector<std::uint32_t> ReadSizes;
};

class SimUsbPrintDriver final : public SimulatedDriver {
 public:
  SimUsbPrintDriver(Clock& time, sim::PrinterEngine& engine);

  // Adds the next printer interface; returns its index.
  int AddPrinter();
  void Change(int index, const std::function<void(UsbPrinter&)>& change);
  template <class T>
  T Get(int index, const std::function<T(const UsbPrinter&)>& get) const {
    std::lock_guard lock(lock_);
    return get(printers_.at(static_cast<std::size_t>(index)));
  }
  static std::string InterfacePathFor(int index);
  // Ends, late, the requests a KeepCancelled printer kept: each read fills its whole
  // buffer, as a driver finishing at last would. Returns how many there were.
  int CompleteKept();

  DeviceHandle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                           std::uint32_t flags, std::uint32_t& error) override;
  std::uint32_t ReadFile(DeviceHandle device, void* buffer, std::uint32_t size, std::uint32_t& count,
                         DeviceOverlapped* overlapped) override;
  std::uint32_t WriteFile(DeviceHandle device, const void* data, std::uint32_t size, std::uint32_t& count,
                          DeviceOverlapped* overlapped) override;
  std::uint32_t DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                void* out, std::uint32_t outSize, std::uint32_t& returned) override;
  std::uint32_t GetOverlappedResult(DeviceHandle device, DeviceOverlapped* overlapped, std::uint32_t& count,
                                    bool wait) override;
  std::uint32_t CancelIo(DeviceHandle device) override;
  bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) override;
  std::uint32_t QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) override;

 private:
  struct Operation {
    DeviceHandle Handle = nullptr;
    int Printer = 0;
    bool IsRead = false;
    void* Buffer = nullptr;
    std::uint32_t Size = 0;
    std::string Data;
    bool Stalled = false;
    int PollsLeft = 0;
    bool Done = false;
    std::uint32_t Count = 0;
    std::uint32_t Error = 0;
  };
  UsbPrinter* PrinterOf(DeviceHandle handle, std::uint32_t& error, Object** object = nullptr);
  void Complete(Operation& op);
  void OnClose(const Object& object) override;

  sim::PrinterEngine& engine_;
  std::vector<UsbPrinter> printers_;
  std::map<DeviceOverlapped*, Operation> operations_;
  std::vector<Operation> kept_;
};

}  // namespace qx::test
