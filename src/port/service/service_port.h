#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

#include "port/queued_port.h"
#include "port/workerless_port.h"
#include "port/service/service_library.h"
#include "port/service/service_rules.h"

namespace qx {

// Port kind 5: a printer reached through the vendor's port-communication service. The
// port opens one service port by URL, locks it, registers a data callback, sends with
// the library's send call, and receives through the callback into its receive queue.
//
// The library calls the callback with no usable context, so the callback finds its port
// through one process-wide slot: the port that registered it and its connection. The
// callback is never unregistered (how "UnRegisterCallback" is called is not known):
// the slot is cleared under its lock before the port unlocks and closes, and before
// the object goes; a callback already running on the library's thread holds that lock,
// so clearing waits for it, and any later call (from a library that keeps calling)
// finds the slot empty. Data for another connection than the one in the slot are
// dropped. The data-arrived hook therefore runs with that lock held and must not close
// or destroy the port.
class TQXPH : public TWorkerlessPort {
 public:
  // `library` may be null (not found): the port exists and every operation that needs
  // an entry point fails.
  TQXPH(int portId, std::unique_ptr<ServiceLibrary> library);
  ~TQXPH() override;

  int Open() override;
  int Write(int tag, const char* data, int length, int* written) override;
  int Read(void* buffer, int length, int* got) override;
  int Close() override;
  // Takes no record: prints the service's ports and their properties (ListingSink).
  // Always 0.
  int GetDeviceInfo(void* info) override;
  int IsOpen() override { return opened_.load(); }
  std::intptr_t GetHandle() override { return static_cast<std::intptr_t>(serviceHandle_); }
  int Configure(const PortSettings* settings) override;
  // The block sizes are only stored and handed back; nothing uses them. The receive
  // queue is emptied only by reads and by Close.
  int GetOutputBlockSize() override { return outputBlockSize_; }
  int SetOutputBlockSize(int n) override {
    outputBlockSize_ = n;
    return 1;
  }
  int GetInputAvailable() override;
  int GetInputBlockSize() override { return inputBlockSize_; }
  int SetInputBlockSize(int n) override {
    inputBlockSize_ = n;
    return 1;
  }

  bool LibraryLoaded() const { return library_ != nullptr; }

  WideText ServicePortName = u"PVDPRT001";
  int PortNumber = 1;
  std::uint32_t WriteTimeoutMultiplier = 0;
  std::uint32_t WriteTimeoutConstant = 2000;
  WideText RemoteAddressText;
  int RemoteMode = 0;
  // Where the listing goes; standard output unless a test takes it.
  std::function<void(std::string_view)> ListingSink;

  // The data callback handed to "RegisterCallback".
  static void OnServiceData(SvcHandle handle, std::uintptr_t context, const void* data, std::uint32_t length);

 private:
  void Attach();
  void Detach();
  void Deliver(const void* data, std::uint32_t length);
  void Print(std::string_view text);
  // SVC_IOCTL_LIST_PORTS on a list connection; false when it fails.
  bool QueryPortList(SvcHandle list, unsigned char (&answer)[ServiceAnswerBytes]);
  // The names of the ports behind a list connection; empty when the control fails.
  std::vector<WideText> ListPorts(SvcHandle list);
  void ListProperties(bool remote, const WideText& portName);
  void ListOneSide(bool remote);

  std::unique_ptr<ServiceLibrary> library_;
  ServiceEntryPoints entry_;
  std::atomic<int> opened_{0};
  SvcHandle serviceHandle_ = 0;
  int outputBlockSize_ = 1024;
  int inputBlockSize_ = 1024;
  PortQueue receive_;
};

}  // namespace qx
