// The demo's driver: starts the utility, adds the COM port of the simulated printer,
// presses Get, Print Test and (with --set) Set, prints every message box, saves
// screenshots, and exits the utility. Exit code 0 when every step did what it should.
//
//   qx_demo_driver EXE SHOT_DIR COM_NAME [--dialog] [--set]
//
// --dialog: the Add Port dialog is driven (its "COM" page, the port, OK); without it
// the program's Add Port adds the port by itself (the UI tests' variant).

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "ui_driver.h"

namespace {

using namespace qx::ui;
using qx::uitest::App;

int failures = 0;

void Report(const char* step, const qx::uitest::MessageBoxSeen& box, const char* expected) {
  const bool ok = box.window != nullptr && box.text == expected;
  std::printf("%-11s %s box \"%s\": \"%s\"%s\n", step, ok ? "ok  " : "FAIL", box.title.c_str(), box.text.c_str(),
              ok ? "" : (std::string(" (expected \"") + expected + "\")").c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

HWND ChildWithText(HWND parent, const char* text) {
  struct Search {
    const char* text;
    HWND found;
  } search{text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (qx::uitest::Text(child) == s.text && IsWindowVisible(child)) {
          s.found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The dialog's "COM" page: its page button, then the port in the first visible list, OK.
bool AddThroughDialog(App& app, const char* com, const std::function<void()>& shot) {
  HWND dialog = nullptr;
  qx::uitest::WaitFor(
      [&] {
        dialog = FindWindowA(nullptr, "Add Port");
        return dialog != nullptr && IsWindowVisible(dialog);
      },
      10000);
  if (dialog == nullptr) return false;
  // The pages are buttons of a tab control, "COM" the first: a click at its left end.
  if (HWND tabs = FindWindowExA(dialog, nullptr, "SysTabControl32", nullptr)) {
    PostMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(12, 10));
    PostMessageA(tabs, WM_LBUTTONUP, 0, MAKELPARAM(12, 10));
  } else if (HWND page = ChildWithText(dialog, "COM")) {
    app.Click(page);
  }
  Sleep(500);
  HWND list = nullptr;
  qx::uitest::WaitFor(
      [&] {
        for (HWND c = FindWindowExA(dialog, nullptr, "ComboBox", nullptr); c; c = FindWindowExA(dialog, c, "ComboBox", nullptr)) {
          if (IsWindowVisible(c) && SendMessageA(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                 reinterpret_cast<LPARAM>(com)) != CB_ERR) {
            list = c;
            return true;
          }
        }
        return false;
      },
      5000);
  if (list == nullptr) return false;
  const LRESULT index =
      SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(com));
  SendMessageA(list, CB_SETCURSEL, index, 0);
  PostMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
  Sleep(200);
  shot();
  HWND ok = ChildWithText(dialog, "OK");
  if (ok == nullptr) return false;
  app.Click(ok);
  return qx::uitest::WaitFor([&] { return !IsWindowVisible(dialog); }, 5000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qx_demo_driver EXE SHOT_DIR COM_NAME [--dialog] [--set]\n");
    return 2;
  }
  const std::string exe = argv[1];
  const std::string shots = argv[2];
  const char* com = argv[3];
  bool dialog = false, set = false;
  for (int i = 4; i < argc; ++i) {
    dialog |= std::strcmp(argv[i], "--dialog") == 0;
    set |= std::strcmp(argv[i], "--set") == 0;
  }
  auto shot = [&](const char* name) { qx::uitest::SaveScreenshot(shots + "/" + name + ".bmp"); };

  SetEnvironmentVariableA("QX_UI_ADD_PORT", com);
  App app;
  if (!app.Start(exe) || app.WaitMainWindow() == nullptr) {
    std::printf("the utility did not start\n");
    return 1;
  }
  std::printf("started     \"%s\"\n", qx::uitest::Text(app.Main()).c_str());
  shot("1_started");

  app.Click(AddButtonId);
  if (dialog && !AddThroughDialog(app, com, [&] { shot("1_add_port_dialog"); })) {
    std::printf("Add Port    FAIL could not add %s through the dialog\n", com);
    return 1;
  }
  if (!qx::uitest::WaitFor([&] { return IsWindowEnabled(app.Control(GetButtonId)) != FALSE; }, 10000)) {
    std::printf("Add Port    FAIL no port in the list\n");
    return 1;
  }
  std::printf("Add Port    ok   list holds \"%s\"\n", qx::uitest::ComboItem(app.Control(PortComboBoxId), 0).c_str());

  auto press = [&](const char* step, int id, const char* expected, int limitMs, const char* name) {
    app.Click(id);
    qx::uitest::MessageBoxSeen box = app.WaitMessageBox(limitMs);
    shot(name);
    Report(step, box, expected);
    app.Dismiss(box);
  };
  press("Get", GetButtonId, "Getting information was successful.", 20000, "2_get");
  std::printf("            Current Setting: \"%s\"\n", qx::uitest::Text(app.Control(Label2Id)).c_str());
  press("Print Test", PrintButtonId, "Test print was successful.", 20000, "3_print_test");
  if (set) {
    app.Click(K40VRadioButtonId);  // "QX-K40VI"
    Sleep(300);
    std::printf("Set         QX-K40VI: the printer restarts, this takes about 45 s\n");
    std::fflush(stdout);
    press("Set", SetButtonId, "The setting change succeeded.", 120000, "4_set");
    std::printf("            Current Setting: \"%s\"\n", qx::uitest::Text(app.Control(Label2Id)).c_str());
  }
  DWORD code = 1;
  if (!app.Exit(code)) {
    std::printf("Exit        FAIL the utility did not end\n");
    return 1;
  }
  std::printf("Exit        %s exit code %lu\n", code == 0 ? "ok  " : "FAIL", static_cast<unsigned long>(code));
  return failures == 0 && code == 0 ? 0 : 1;
}
