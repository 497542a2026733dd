#pragma once

// Drives the Add Port dialog from a second thread of the test while the test's own
// thread runs the modal loop (AddButtonClick). Every wait is bounded; when a step
// fails the driver still ends the dialog, so the modal loop always returns.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "addport/add_port_command.h"
#include "addport/add_port_dialog.h"
#include "app/main_window_logic.h"
#include "support/fake_host.h"
#include "support/wait_until.h"

namespace qx::test {

// This process's dialog (a program left behind by an earlier run may show one too).
inline HWND FindVisibleForm() {
  for (HWND form = FindWindowExA(nullptr, nullptr, AddPortFormClass, AddPortFormCaption); form;
       form = FindWindowExA(nullptr, form, AddPortFormClass, AddPortFormCaption)) {
    DWORD process = 0;
    GetWindowThreadProcessId(form, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(form)) return form;
  }
  return nullptr;
}

inline std::string Text(HWND dialog, int id) {
  char text[128] = {};
  GetWindowTextA(GetDlgItem(dialog, id), text, sizeof text);
  return text;
}

inline void SetText(HWND dialog, int id, const char* text) { SetWindowTextA(GetDlgItem(dialog, id), text); }

// The four octet fields as one address.
inline std::string Octets(HWND dialog) {
  return Text(dialog, IdEdit1) + "." + Text(dialog, IdEdit1 + 1) + "." + Text(dialog, IdEdit1 + 2) + "." +
         Text(dialog, IdEdit1 + 3);
}

inline std::vector<std::string> ListItems(HWND dialog, int id) {
  HWND combo = GetDlgItem(dialog, id);
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[128] = {};
    if (SendMessageA(combo, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text)) {
      SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    }
    items.emplace_back(text);
  }
  return items;
}

inline int Selection(HWND dialog, int id) {
  return static_cast<int>(SendMessageA(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

// Chooses an item as the operator does: the selection, then the change notification.
inline void ChooseItem(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageA(combo, CB_SETCURSEL, index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

inline int ActivePage(HWND dialog) {
  return static_cast<int>(SendMessageA(GetDlgItem(dialog, IdPageControl1), TCM_GETCURSEL, 0, 0));
}

// Clicks a tab of the page control with the mouse.
inline void ChoosePage(HWND dialog, AddPortPage page) {
  HWND tabs = GetDlgItem(dialog, IdPageControl1);
  RECT r{};
  SendMessageA(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(page), reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(tabs, WM_LBUTTONUP, 0, at);
  WaitUntil([&] { return ActivePage(dialog) == static_cast<int>(page); }, std::chrono::seconds(2));
}

// Moves the keyboard focus inside the dialog, which belongs to another thread.
inline void Focus(HWND dialog, int id) {
  const DWORD ui = GetWindowThreadProcessId(dialog, nullptr);
  AttachThreadInput(GetCurrentThreadId(), ui, TRUE);
  SetFocus(GetDlgItem(dialog, id));
  AttachThreadInput(GetCurrentThreadId(), ui, FALSE);
}

inline void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Runs `steps` on a driver thread once the dialog is visible, while `modal` runs here.
// `steps` ends the dialog (a click on OK or Cancel); if it does not, the driver closes
// the dialog by its system menu after a while.
inline void WhileModal(const std::function<void(HWND dialog)>& steps, const std::function<void()>& modal) {
  std::thread driver([&] {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = FindVisibleForm()) != nullptr; }, std::chrono::seconds(5))) {
      ADD_FAILURE() << "the Add Port dialog did not appear";
      return;
    }
    steps(dialog);
    if (!WaitUntil([&] { return !IsWindowVisible(dialog); }, std::chrono::seconds(5))) {
      ADD_FAILURE() << "the Add Port dialog stayed open";
      PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
  });
  modal();
  driver.join();
}

// What the main window brings to the dialog: an owner window, the window's logic over an
// empty port table, and the form made for the owner.
class AddPortRig : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 480, 300, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner_, nullptr);
    CreateAddPortForm(owner_);
  }
  void TearDown() override {
    DestroyAddPortForm();
    if (owner_) DestroyWindow(owner_);
  }

  // One press of Add Port with the operator's steps.
  void AddPort(const std::function<void(HWND)>& steps) {
    WhileModal(steps, [&] { AddButtonClick(owner_, logic_); });
  }

  HWND owner_ = nullptr;
  FakeHost host_;
  PortTable ports_{[](int) { return std::unique_ptr<TQXCCC>(); }};
  MainWindowLogic logic_{ports_, host_};
};

}  // namespace qx::test
