// The real program under Wine + Xvfb, driven from this second process: its windows, the
// single-instance rule, and Get, Set and Print Test over a COM port (a pty pair) whose
// far end is bridged to the simulated printer's engine in this process.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_ids.h"
#include "services/service_state.h"
#include "serial/pty_bridge.h"
#include "support/wine_service_support.h"
#include "port/device/device_calls.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"
#include "ui_driver.h"
#include "support/root_devices.h"

namespace qx {
namespace {

using namespace qx::ui;
using uitest::App;

const std::string ShotDir = QX_UI_SHOT_DIR;

void Shot(const std::string& name) { uitest::SaveScreenshot(ShotDir + "/" + name + ".bmp"); }

bool Enabled(const App& app, int id) { return IsWindowEnabled(app.Control(id)) != FALSE; }
bool Checked(const App& app, int id) { return SendMessageA(app.Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

// What a listed port enables.
void ExpectPortControlsEnabled(const App& app) {
  for (int id : {GetButtonId, SetButtonId, PrintButtonId, K40VRadioButtonId, K40IVRadioButtonId}) {
    EXPECT_TRUE(Enabled(app, id)) << id;
  }
}

// The Exit button ends the program with code 0.
void ExpectExitWithZero(App& app) {
  DWORD code = 1234;
  ASSERT_TRUE(app.Exit(code));
  EXPECT_EQ(code, 0u);
}

// A second copy shows nothing of its own and ends with -1 at once.
void ExpectSecondCopyEndsWithMinusOne() {
  App second;
  ASSERT_TRUE(second.Start(QX_UI_APP_EXE));
  DWORD code = 0;
  ASSERT_TRUE(second.WaitExit(30000, code));
  EXPECT_EQ(code, static_cast<DWORD>(-1));
  EXPECT_EQ(uitest::FindTopLevel(second.Id(), MainWindowClass), nullptr);
}

TEST(MainWindow, ShowsItsControlsInTheirInitialStateAndExitsWithZero) {
  App app;
  ASSERT_TRUE(app.Start(QX_UI_APP_EXE));
  HWND main = app.WaitMainWindow();
  ASSERT_NE(main, nullptr);
  Shot("main_window");

  EXPECT_EQ(uitest::Text(main), "QX-K40VII Printer Model Setting Utility Ver.1.00");
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(client.right - client.left, 470);
  EXPECT_EQ(client.bottom - client.top, 270);
  RECT frame{};
  GetWindowRect(main, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  const LONG style = GetWindowLongA(main, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

  // The application window: what a second instance finds; it owns the main window.
  HWND application = FindWindowA("TApplication", "QX-K40VI Printer Model Setting Utility");
  ASSERT_NE(application, nullptr);
  EXPECT_EQ(app.ApplicationWindow(), application);

  struct Expected {
    int id;
    const char* windowClass;
    const char* text;
    bool enabled;
  };
  // The empty port list disables what needs a port.
  const Expected controls[] = {
      {PortLabelId, "Static", "Port", true},           {PortComboBoxId, "ComboBox", "", true},
      {AddButtonId, "Button", "Add Port", true},       {GroupBoxId, "Button", "Select Printer Model", true},
      {K40VIRadioButtonId, "Button", "QX-K40VII", true}, {K40VRadioButtonId, "Button", "QX-K40VI", false},
      {K40IVRadioButtonId, "Button", "QX-K40V", false}, {GetButtonId, "Button", "Get", false},
      {SetButtonId, "Button", "Set", false},           {PrintButtonId, "Button", "Print Test", false},
      {ExitButtonId, "Button", "Exit", true},          {ProgressBarId, "msctls_progress32", "", true},
      {Label1Id, "Static", "Current Setting", true},   {Label2Id, "Static", "", true},
  };
  for (const Expected& c : controls) {
    HWND control = app.Control(c.id);
    ASSERT_NE(control, nullptr) << c.text;
    EXPECT_STRCASEEQ(uitest::ClassOf(control).c_str(), c.windowClass) << c.text;
    EXPECT_EQ(uitest::Text(control), c.text);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, c.enabled) << c.text;
  }
  EXPECT_TRUE(Checked(app, K40VIRadioButtonId));
  EXPECT_FALSE(Checked(app, K40VRadioButtonId));
  EXPECT_EQ(SendMessageA(app.Control(PortComboBoxId), CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(app.Control(ProgressBarId), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageA(app.Control(ProgressBarId), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_TRUE(GetWindowLongA(app.Control(ProgressBarId), GWL_STYLE) & PBS_SMOOTH);
  EXPECT_TRUE(GetWindowLongA(app.Control(PortComboBoxId), GWL_STYLE) & CBS_DROPDOWNLIST);

  // Tab order: the focusable controls in creation order.
  std::vector<int> tabStops;
  for (HWND child = GetWindow(main, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP) tabStops.push_back(GetDlgCtrlID(child));
  }
  EXPECT_EQ(tabStops, (std::vector<int>{PortComboBoxId, AddButtonId, K40VIRadioButtonId, GetButtonId, SetButtonId,
                                        PrintButtonId, ExitButtonId}));

  // F1 opens nothing: no new window of any process appears (a help viewer would be
  // one of its own).
  const std::vector<HWND> before = uitest::VisibleTopLevelWindows();
  PostMessageA(app.Control(PortComboBoxId), WM_KEYDOWN, VK_F1, 0x003B0001);
  PostMessageA(app.Control(PortComboBoxId), WM_KEYUP, VK_F1, 0xC03B0001);
  PostMessageA(main, WM_HELP, 0, 0);
  Sleep(1000);
  EXPECT_EQ(uitest::VisibleTopLevelWindows(), before);
  EXPECT_FALSE(app.Exited());

  // The real Add Port dialog, owned by the main window and modal over it; Cancel adds
  // nothing.
  app.Click(AddButtonId);
  HWND dialog = nullptr;
  ASSERT_TRUE(uitest::WaitFor([&] { return (dialog = uitest::FindTopLevel(app.Id(), "TAddPortForm", main)) != nullptr; },
                              20000));
  EXPECT_EQ(uitest::Text(dialog), "Add Port");
  EXPECT_TRUE(uitest::WaitFor([&] { return !IsWindowEnabled(main); }, 5000));
  app.Click(GetDlgItem(dialog, 102));  // Cancel
  EXPECT_TRUE(uitest::WaitFor([&] { return !IsWindowVisible(dialog) && IsWindowEnabled(main); }, 10000));
  EXPECT_EQ(SendMessageA(app.Control(PortComboBoxId), CB_GETCOUNT, 0, 0), 0);
  ExpectExitWithZero(app);
}

TEST(MainWindow, ListsTheUsbDevicesOfBothClassesWithOneRunningNumberAndSelectsTheLast) {
  test::RootDevices devices;
  for (const Guid& interfaceClass : {VendorUsbInterfaceClass, UsbPrintInterfaceClass, UsbPrintInterfaceClass}) {
    ASSERT_NE(devices.Add(test::ToGuid(interfaceClass)), "");
  }

  App app;
  ASSERT_TRUE(app.Start(QX_UI_APP_EXE));
  ASSERT_NE(app.WaitMainWindow(), nullptr);
  Shot("main_window_usb");
  HWND combo = app.Control(PortComboBoxId);
  ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(uitest::ComboItem(combo, 0), "USB-000");
  EXPECT_EQ(uitest::ComboItem(combo, 1), "USB PRN-001");
  EXPECT_EQ(uitest::ComboItem(combo, 2), "USB PRN-002");
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);
  ExpectPortControlsEnabled(app);

  // No driver behind a root device: Get cannot open the port.
  app.Click(GetButtonId);
  uitest::MessageBoxSeen box = app.WaitMessageBox(20000);
  EXPECT_TRUE(app.Dismiss(box));
  EXPECT_EQ(box.title, "Error");
  EXPECT_EQ(box.text, "This utility can't open communication port.");
  ExpectExitWithZero(app);
}

TEST(SingleInstance, SecondCopyRestoresTheMinimisedFirstAndEndsWithMinusOne) {
  App first;
  ASSERT_TRUE(first.Start(QX_UI_APP_EXE));
  HWND main = first.WaitMainWindow();
  ASSERT_NE(main, nullptr);
  HWND application = first.ApplicationWindow();
  ASSERT_NE(application, nullptr);

  PostMessageA(application, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(uitest::WaitFor([&] { return IsIconic(application) && !IsWindowVisible(main); }, 10000));

  ExpectSecondCopyEndsWithMinusOne();
  EXPECT_TRUE(uitest::WaitFor([&] { return !IsIconic(application) && IsWindowVisible(main); }, 10000));
  EXPECT_TRUE(uitest::WaitFor([&] { return GetForegroundWindow() == main; }, 10000));
  Shot("main_window_restored");

  // A second copy while the first is in view ends the same way.
  ExpectSecondCopyEndsWithMinusOne();
  EXPECT_FALSE(first.Exited());
  ExpectExitWithZero(first);
}

// The exit with the real service manager: Wine's spooler and a vendor service of the
// set (the test service under the name "ZemakTovel", whose start takes a while, so
// that the exit steps outlast what the test watches of them).
class ExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vendor.Installed());
    ASSERT_EQ(ChangeServiceState(SystemServices(), ServiceModeStart, "Spooler"), 1);
    ASSERT_EQ(ChangeServiceState(SystemServices(), ServiceModeStart, "ZemakTovel"), 1);
    ASSERT_TRUE(app.Start(QX_UI_APP_EXE));
    ASSERT_NE(app.WaitMainWindow(), nullptr);
    application = app.ApplicationWindow();
    ASSERT_NE(application, nullptr);
    // Both stopped while the utility runs.
    EXPECT_EQ(test::RawState("Spooler"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(test::RawState("ZemakTovel"), static_cast<DWORD>(SERVICE_STOPPED));
  }

  // Nothing of the program on screen: neither window visible (or there at all).
  bool WindowsGone() const { return !IsWindowVisible(app.Main()) && !IsWindowVisible(application); }

  void ExpectEndedWithServicesRunning() {
    DWORD code = 1234;
    ASSERT_TRUE(app.WaitExit(60000, code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(test::RawState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(test::RawState("ZemakTovel"), static_cast<DWORD>(SERVICE_RUNNING));
  }

  test::TestService vendor{"ZemakTovel", "start-delay=1500", uitest::WindowsPath(QX_TEST_SERVICE_EXE)};
  App app;
  HWND application = nullptr;
};

// The exit steps run after both windows have gone; a second copy started meanwhile
// shows nothing, brings nothing forward, and ends with -1 at once.
TEST_F(ExitTest, AnAcceptedCloseRemovesBothWindowsAtOnceAndTheServicesRunAgain) {
  const std::int64_t closed = uitest::Now();
  PostMessageA(app.Main(), WM_CLOSE, 0, 0);
  while (!WindowsGone() && uitest::Now() - closed < 5000) Sleep(1);
  const std::int64_t goneMs = uitest::Now() - closed;
  EXPECT_LE(goneMs, 200);
  EXPECT_FALSE(app.Exited());  // the vendor service takes 1.5 s to start

  ExpectSecondCopyEndsWithMinusOne();
  EXPECT_TRUE(WindowsGone());
  ExpectEndedWithServicesRunning();
}

TEST_F(ExitTest, LogoffRunsTheExitStepsBeforeTheSessionEnds) {
  DWORD_PTR answer = 0;
  // Not SMTO_ABORTIFHUNG: a window whose thread has just begun to take messages after a
  // long construction may still count as hung for a moment.
  ASSERT_NE(SendMessageTimeoutA(app.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer),
            0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  EXPECT_FALSE(app.Exited());  // asking ends nothing
  // The system waits for the answer to this one; the program ends inside it.
  const std::int64_t sent = uitest::Now();
  SendMessageTimeoutA(application, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
  EXPECT_GE(uitest::Now() - sent, 1400);  // returned only once the vendor service had started
  ExpectEndedWithServicesRunning();
}

// The program variant whose Add Port adds the ports in QX_UI_ADD_PORT without a dialog.
class ExchangeTest : public ::testing::Test {
 protected:
  sim::RealClock clock;
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x02,
                                     .RestartMs = 200}};
  test::PtyPeer peer{"COM8"};
  test::PtyBridge bridge{peer, printer};
  App app;

  void SetUp() override {
    ASSERT_TRUE(peer.Valid());
    // COM7 at the first Add Port, COM9 (no printer there) at a second.
    SetEnvironmentVariableA("QX_UI_ADD_PORT", "COM7,COM9");
    ASSERT_TRUE(app.Start(QX_UI_TEST_EXE));
    ASSERT_NE(app.WaitMainWindow(), nullptr);
    app.Click(AddButtonId);
    ASSERT_TRUE(uitest::WaitFor([&] { return Enabled(app, GetButtonId); }, 10000));
    ASSERT_EQ(SendMessageA(app.Control(PortComboBoxId), CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(uitest::ComboItem(app.Control(PortComboBoxId), 0), "COM7");
    EXPECT_EQ(SendMessageA(app.Control(PortComboBoxId), CB_GETCURSEL, 0, 0), 0);
  }
  // Every exchange test ends with the Exit button, and the program with code 0.
  void TearDown() override {
    if (!HasFatalFailure()) ExpectExitWithZero(app);
  }

  // Clicks a button and returns the message box it leads to, dismissed.
  uitest::MessageBoxSeen Press(int id, const std::string& shot, int limitMs = 20000) {
    app.Click(id);
    uitest::MessageBoxSeen box = app.WaitMessageBox(limitMs);
    if (!shot.empty()) Shot(shot);
    EXPECT_TRUE(app.Dismiss(box));
    return box;
  }
};

TEST_F(ExchangeTest, GetShowsTheModelAndPrintTestPrintsTheLine) {
  ExpectPortControlsEnabled(app);
  uitest::MessageBoxSeen box = Press(GetButtonId, "get_information");
  EXPECT_EQ(box.title, "Information");
  EXPECT_EQ(box.text, "Getting information was successful.");
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "QX-K40V");

  box = Press(PrintButtonId, "print_test");
  EXPECT_EQ(box.title, "Information");
  EXPECT_EQ(box.text, "Test print was successful.");
  ASSERT_TRUE(uitest::WaitFor([&] { return printer.PrintedLines().size() == 1; }, 5000));
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));

  // A printer that does not answer: the error box, and the label keeps its text.
  printer.SetPowered(false);
  box = Press(GetButtonId, "get_error", 30000);
  EXPECT_EQ(box.title, "Error");
  EXPECT_EQ(box.text, "Communication error.Can not recognize QX-K40VII.");
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "QX-K40V");
}

// The operator picks another port in the list: the next exchange goes there.
TEST_F(ExchangeTest, TheSelectedPortIsTheOneUsed) {
  EXPECT_EQ(Press(GetButtonId, "").text, "Getting information was successful.");
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "QX-K40V");
  // A second port, where no printer answers, is added and selected.
  app.Click(AddButtonId);
  HWND list = app.Control(PortComboBoxId);
  ASSERT_TRUE(uitest::WaitFor([&] { return SendMessageA(list, CB_GETCOUNT, 0, 0) == 2; }, 10000));
  EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "");

  // Back to the first with the keyboard, as an operator would.
  PostMessageA(list, WM_KEYDOWN, VK_UP, 0x00480001);
  PostMessageA(list, WM_KEYUP, VK_UP, 0xC0480001);
  ASSERT_TRUE(uitest::WaitFor([&] { return SendMessageA(list, CB_GETCURSEL, 0, 0) == 0; }, 5000));
  uitest::MessageBoxSeen box = Press(GetButtonId, "");
  EXPECT_EQ(box.text, "Getting information was successful.");
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "QX-K40V");
}

// Real time: the restart wait of a model change over a COM port is 40 s.
TEST_F(ExchangeTest, SetDisablesEverythingRefusesToCloseAndConfirmsTheNewSetting) {
  app.Click(K40VRadioButtonId);  // "QX-K40VI"
  ASSERT_TRUE(uitest::WaitFor([&] { return Checked(app, K40VRadioButtonId); }, 5000));
  app.Click(SetButtonId);
  const int controls[] = {AddButtonId,    SetButtonId,       GetButtonId,        PrintButtonId,     ExitButtonId,
                          PortComboBoxId, K40VRadioButtonId, K40IVRadioButtonId, K40VIRadioButtonId};
  // The window disables them one after another; seen from here the first may be
  // disabled while the last is not yet.
  const bool allDisabled = uitest::WaitFor(
      [&] { return std::none_of(std::begin(controls), std::end(controls), [&](int id) { return Enabled(app, id); }); },
      10000);
  for (int id : controls) EXPECT_FALSE(Enabled(app, id)) << id;
  ASSERT_TRUE(allDisabled);

  // Closing is refused while the printer restarts; the progress bar moves on.
  PostMessageA(app.Main(), WM_CLOSE, 0, 0);
  PostMessageA(app.ApplicationWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(uitest::WaitFor(
      [&] { return SendMessageA(app.Control(ProgressBarId), PBM_GETPOS, 0, 0) >= 10; }, 15000));
  EXPECT_FALSE(app.Exited());
  Shot("set_running");

  uitest::MessageBoxSeen box = app.WaitMessageBox(90000);
  EXPECT_EQ(SendMessageA(app.Control(ProgressBarId), PBM_GETPOS, 0, 0), 100);
  // The controls come back only once the box is gone.
  for (int id : controls) EXPECT_FALSE(Enabled(app, id)) << id;
  Shot("set_done");
  EXPECT_TRUE(app.Dismiss(box));
  EXPECT_EQ(box.title, "Information");
  EXPECT_EQ(box.text, "The setting change succeeded.");
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_EQ(uitest::Text(app.Control(Label2Id)), "QX-K40VI");
  EXPECT_TRUE(uitest::WaitFor([&] { return Enabled(app, AddButtonId) && Enabled(app, ExitButtonId); }, 5000));
  EXPECT_FALSE(app.Exited());
}

}  // namespace
}  // namespace qx
