#pragma once

#include <array>
#include <functional>
#include <memory>

#include "port/notification_windows.h"
#include "port/qxccc.h"

namespace qx {

// The table of port objects addressed by kind code. Its member functions are the flat
// table interface (LibraryInit, Create, Open, ... with the index as the port kind); the
// window reaches its ports only through them, on the program's one table, and qxmodel
// through a table of its own per exchange, so that exchanges on several ports run side
// by side. Used only from one thread at a time, so it has no lock.
class PortTable {
 public:
  static constexpr int Size = 256;
  // At most this many Create calls may be outstanding.
  static constexpr int MaxOutstanding = 6;

  using PortFactory = std::function<std::unique_ptr<TQXCCC>(int kind)>;
  using WindowFactory = std::function<std::unique_ptr<NotificationWindows>(PortTable&, ModuleInstance)>;

  explicit PortTable(PortFactory ports, WindowFactory windows = {});
  PortTable(const PortTable&) = delete;
  PortTable& operator=(const PortTable&) = delete;
  ~PortTable();

  void LibraryInit(ModuleInstance instance);
  void LibraryShutdown();
  int Create(int type);
  int Destroy(int index);
  int Open(int index);
  int Write(int index, int tag, const void* data, int length, int* written);
  int Read(int index, void* buffer, int length, int* got);
  int Close(int index);
  int Configure(int index, const PortSettings* settings);

  // The port at an index, or null. The notification windows look ports up by kind.
  TQXCCC* At(int index) const;
  int CreateCount() const { return createCount_; }
  ModuleInstance Instance() const { return instance_; }
  // Null before LibraryInit, after LibraryShutdown, and off Windows.
  NotificationWindows* Windows() const { return windows_.get(); }

 private:
  PortFactory portFactory_;
  WindowFactory windowFactory_;
  std::array<std::unique_ptr<TQXCCC>, Size> ports_;
  int createCount_ = 0;
  ModuleInstance instance_ = nullptr;
  std::unique_ptr<NotificationWindows> windows_;
};

// The program's one port table, holding the standard port kinds (process-wide by
// design: the notification windows and the network kind find their ports through it).
PortTable& ProcessPortTable();

}  // namespace qx
