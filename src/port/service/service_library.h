#pragma once

#include "port/service/port_service_api.h"

namespace qx {

// The eight entry points of the service's client library; one that the library does
// not export stays null.
struct ServiceEntryPoints {
  SvcOpenFn Open = nullptr;
  SvcCloseFn Close = nullptr;
  SvcLockFn Lock = nullptr;
  SvcUnlockFn Unlock = nullptr;
  SvcSendReceiveFn SendReceive = nullptr;
  SvcIoctlFn Ioctl = nullptr;
  SvcRegisterCallbackFn RegisterCallback = nullptr;
  SvcUnknownEntry UnRegisterCallback = nullptr;
};

// A loaded client library: its entry points stay valid while the object lives, and it
// is unloaded when the object goes. The program loads the DLL (service_library_win32.h);
// native tests bind the entry points to functions of their own.
class ServiceLibrary {
 public:
  ServiceLibrary() = default;
  ServiceLibrary(const ServiceLibrary&) = delete;
  ServiceLibrary& operator=(const ServiceLibrary&) = delete;
  virtual ~ServiceLibrary() = default;

  virtual const ServiceEntryPoints& Entries() const = 0;
};

}  // namespace qx
