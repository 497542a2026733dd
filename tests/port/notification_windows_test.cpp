// The hidden notification windows under Wine: messages sent to the real windows reach
// the ports in the table that made them.

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <map>
#include <memory>
#include <vector>

#include "port/notification_targets.h"
#include "port/notification_windows_win32.h"
#include "port/placeholder_port.h"
#include "port/port_settings.h"
#include "port/port_table.h"
#include "port/standard_ports.h"

namespace qx {
namespace {

// A port that counts its Close calls.
class CountingPort : public TPlaceholderPort {
 public:
  using TPlaceholderPort::TPlaceholderPort;
  int Close() override {
    ++closes;
    return 1;
  }
  int closes = 0;
};

class FakeUsbPort : public CountingPort, public DevicePresenceTarget {
 public:
  FakeUsbPort(int id, bool present) : CountingPort(id, KindVendorUsb), present_(present) {}
  int CheckDevicePresent() override {
    ++checks;
    return present_ ? 1 : 0;
  }
  int checks = 0;

 private:
  bool present_;
};

class FakeNetPort : public CountingPort, public SocketNotifyTarget {
 public:
  FakeNetPort(int id, SocketHandle socket) : CountingPort(id, KindNetwork), socket_(socket) {}
  SocketHandle Socket() const override { return socket_; }
  void MarkOpened() override { ++marks; }
  void NotifyOpened() override { ++notifies; }
  int marks = 0;
  int notifies = 0;

 private:
  SocketHandle socket_;
};

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

// Builds a table whose ports come from `ports` by type code.
struct TableWith {
  explicit TableWith(std::map<int, std::function<std::unique_ptr<TQXCCC>(int)>> ports)
      : makers(std::move(ports)),
        table([this](int type) -> std::unique_ptr<TQXCCC> {
          auto it = makers.find(type);
          return it == makers.end() ? nullptr : it->second(type);
        },
              CreateStandardNotificationWindows) {
    table.LibraryInit(Instance());
    for (auto& [type, make] : makers) table.Create(type);
  }
  template <class Port>
  Port& At(int index) {
    return *dynamic_cast<Port*>(table.At(index));
  }
  HWND DeviceWindow() { return static_cast<HWND>(table.Windows()->DeviceChangeWindow()); }
  HWND SocketWindow() { return static_cast<HWND>(table.Windows()->SocketWindow()); }

  std::map<int, std::function<std::unique_ptr<TQXCCC>(int)>> makers;
  PortTable table;
};

TEST(NotificationWindows, AreHiddenWindowsOfTheirClassesAndGoAtShutdown) {
  PortTable table(CreateStandardPort, CreateStandardNotificationWindows);
  table.LibraryInit(Instance());
  ASSERT_NE(table.Windows(), nullptr);
  auto device = static_cast<HWND>(table.Windows()->DeviceChangeWindow());
  auto socket = static_cast<HWND>(table.Windows()->SocketWindow());
  ASSERT_NE(device, nullptr);
  ASSERT_NE(socket, nullptr);
  char name[64] = {};
  GetClassNameA(device, name, sizeof name);
  EXPECT_STREQ(name, "UsbWndProc");
  GetClassNameA(socket, name, sizeof name);
  EXPECT_STREQ(name, "TcpWndProc");
  EXPECT_FALSE(IsWindowVisible(device));
  EXPECT_FALSE(IsWindowVisible(socket));
  EXPECT_EQ(GetWindowTextLengthA(device), 0);

  table.LibraryShutdown();
  EXPECT_EQ(table.Windows(), nullptr);
  EXPECT_FALSE(IsWindow(device));
  EXPECT_FALSE(IsWindow(socket));

  // A second library start in the same process makes them again (the classes stay).
  table.LibraryInit(Instance());
  ASSERT_NE(table.Windows(), nullptr);
  EXPECT_NE(table.Windows()->DeviceChangeWindow(), nullptr);
  table.LibraryShutdown();
}

TEST(DeviceChangeWindow, RemovalClosesOnlyVendorUsbPortsWhoseDeviceHasGone) {
  TableWith t({
      {0, [](int id) { return std::make_unique<CountingPort>(id, KindSerial); }},
      {1, [](int id) { return std::make_unique<FakeUsbPort>(id, true); }},
      {2, [](int id) { return std::make_unique<FakeUsbPort>(id, false); }},
      {4, [](int id) { return std::make_unique<CountingPort>(id, KindUsbPrinter); }},
  });
  SendMessageA(t.DeviceWindow(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  EXPECT_EQ(t.At<FakeUsbPort>(1).checks, 1);
  EXPECT_EQ(t.At<FakeUsbPort>(1).closes, 0);
  EXPECT_EQ(t.At<FakeUsbPort>(2).checks, 1);
  EXPECT_EQ(t.At<FakeUsbPort>(2).closes, 1);
  EXPECT_EQ(t.At<CountingPort>(0).closes, 0);
  EXPECT_EQ(t.At<CountingPort>(4).closes, 0);

  // Arrival and other device events only get the default processing.
  SendMessageA(t.DeviceWindow(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  SendMessageA(t.DeviceWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  EXPECT_EQ(t.At<FakeUsbPort>(2).checks, 1);
  EXPECT_EQ(t.At<FakeUsbPort>(2).closes, 1);
}

TEST(DeviceChangeWindow, TheRealVendorUsbPortClosedIsAskedAndClosedAgain) {
  PortTable table(CreateStandardPort, CreateStandardNotificationWindows);
  table.LibraryInit(Instance());
  ASSERT_EQ(table.Create(KindVendorUsb), KindVendorUsb);
  auto* target = dynamic_cast<DevicePresenceTarget*>(table.At(KindVendorUsb));
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->CheckDevicePresent(), 0);  // closed: no device to ask
  SendMessageA(static_cast<HWND>(table.Windows()->DeviceChangeWindow()), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
               0);
  EXPECT_EQ(table.At(KindVendorUsb)->IsOpen(), 0);
  table.Destroy(KindVendorUsb);
  table.LibraryShutdown();
}

TEST(SocketWindow, ASuccessfulConnectMarksTheFirstNetworkPortWithThatSocketOpen) {
  TableWith t({
      {0, [](int id) { return std::make_unique<CountingPort>(id, KindSerial); }},
      {1, [](int id) { return std::make_unique<FakeNetPort>(id, 700); }},
      {3, [](int id) { return std::make_unique<FakeNetPort>(id, 700); }},
      {4, [](int id) { return std::make_unique<FakeNetPort>(id, 800); }},
  });
  EXPECT_EQ(SendMessageA(t.SocketWindow(), SocketNotifyMessage, 700, MAKELPARAM(0x10, 0)), 0);
  EXPECT_EQ(t.At<FakeNetPort>(1).marks, 1);
  EXPECT_EQ(t.At<FakeNetPort>(1).notifies, 1);
  EXPECT_EQ(t.At<FakeNetPort>(3).marks, 0);
  EXPECT_EQ(t.At<FakeNetPort>(4).marks, 0);

  // A connect that carries an error (here WSAECONNREFUSED) opens nothing.
  EXPECT_EQ(SendMessageA(t.SocketWindow(), SocketNotifyMessage, 800, MAKELPARAM(0x10, 10061)), 0);
  EXPECT_EQ(t.At<FakeNetPort>(4).marks, 0);
  EXPECT_EQ(t.At<FakeNetPort>(4).notifies, 0);
}

TEST(SocketWindow, CloseClosesThePortAndOtherEventsGoToTheDefault) {
  TableWith t({
      {3, [](int id) { return std::make_unique<FakeNetPort>(id, 700); }},
  });
  EXPECT_EQ(SendMessageA(t.SocketWindow(), SocketNotifyMessage, 700, MAKELPARAM(0x20, 0)), 0);
  EXPECT_EQ(t.At<FakeNetPort>(3).closes, 1);

  // FD_READ, an unknown socket, another message: nothing happens to the port.
  SendMessageA(t.SocketWindow(), SocketNotifyMessage, 700, MAKELPARAM(0x01, 0));
  SendMessageA(t.SocketWindow(), SocketNotifyMessage, 999, MAKELPARAM(0x10, 0));
  SendMessageA(t.SocketWindow(), SocketNotifyMessage, 999, MAKELPARAM(0x20, 0));
  SendMessageA(t.SocketWindow(), WM_USER, 700, MAKELPARAM(0x20, 0));
  EXPECT_EQ(t.At<FakeNetPort>(3).closes, 1);
  EXPECT_EQ(t.At<FakeNetPort>(3).marks, 0);
}

TEST(SocketWindow, IgnoresPortsOfOtherKindsThatHoldTheSocket) {
  // A vendor USB port that happened to carry a socket interface is not a network port.
  class OddPort : public FakeUsbPort, public SocketNotifyTarget {
   public:
    explicit OddPort(int id) : FakeUsbPort(id, true) {}
    SocketHandle Socket() const override { return 700; }
    void MarkOpened() override { ++marks; }
    void NotifyOpened() override {}
    int marks = 0;
  };
  TableWith t({{2, [](int id) { return std::make_unique<OddPort>(id); }}});
  SendMessageA(t.SocketWindow(), SocketNotifyMessage, 700, MAKELPARAM(0x10, 0));
  EXPECT_EQ(t.At<OddPort>(2).marks, 0);
}

}  // namespace
}  // namespace qx
