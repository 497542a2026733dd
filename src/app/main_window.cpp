#include "app/main_window.h"

#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "addport/add_port_command.h"
#include "app/main_window_ids.h"
#include "app/main_window_steps.h"
#include "platform/time.h"
#include "port/port_table.h"
#include "port/device/device_calls.h"

namespace qx {

namespace {

using namespace qx::ui;

constexpr int BaseDpi = 96;

struct ControlSpec {
  int id;
  const char* windowClass;
  const char* text;
  DWORD style;
  int x, y, width, height;  // at 96 dpi, in client pixels
};

// In creation order, which is also the tab order of the focusable ones.
constexpr DWORD Button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD Radio = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
constexpr DWORD Text = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
const ControlSpec Controls[] = {
    {PortLabelId, "STATIC", "Port", Text, 24, 24, 40, 16},
    {PortComboBoxId, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 72, 20, 240,
     200},
    {AddButtonId, "BUTTON", "Add Port", Button, 336, 18, 110, 26},
    {GroupBoxId, "BUTTON", "Select Printer Model", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 24, 58, 288, 120},
    {K40VIRadioButtonId, "BUTTON", "QX-K40VII", Radio | WS_GROUP | WS_TABSTOP, 48, 82, 200, 22},
    {K40VRadioButtonId, "BUTTON", "QX-K40VI", Radio, 48, 112, 200, 22},
    {K40IVRadioButtonId, "BUTTON", "QX-K40V", Radio, 48, 142, 200, 22},
    {GetButtonId, "BUTTON", "Get", Button | WS_GROUP, 336, 66, 110, 26},
    {SetButtonId, "BUTTON", "Set", Button, 336, 104, 110, 26},
    {PrintButtonId, "BUTTON", "Print Test", Button, 336, 142, 110, 26},
    {ExitButtonId, "BUTTON", "Exit", Button, 336, 226, 110, 26},
    {ProgressBarId, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 24, 230, 288, 18},
    {Label1Id, "STATIC", "Current Setting", Text | WS_GROUP, 24, 196, 110, 16},
    {Label2Id, "STATIC", "", Text, 140, 196, 172, 16},
};

constexpr int ControlIds[ControlCount] = {
    AddButtonId,  SetButtonId,     GetButtonId,       PrintButtonId,      ExitButtonId,
    PortComboBoxId, K40VRadioButtonId, K40IVRadioButtonId, K40VIRadioButtonId,
};

constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD WindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

int Scale(int value, int dpi) { return MulDiv(value, dpi, BaseDpi); }

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BaseDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : BaseDpi;
}

void RegisterMainWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = MainWindowClass;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("The main window class could not be registered.");
  }
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, HWND owner) : owner_(owner), logic_(ProcessPortTable(), *this) {
  // 1. The controls.
  BuildControls(instance);
  try {
    // 2 to 8. Services stopped, the port table with one configured port of each kind,
    // the attached USB devices, controls by whether the list is empty.
    RunConstructionSteps(logic_, services_, GetModuleHandleA("qxflash.exe"), [this] { ListUsbDevices(); });
    // 9. The form is created.
    themeFix_ = std::make_unique<ThemeRepaintFix>(window_);
  } catch (...) {
    // No destructor runs for a constructor that throws: undo here, ports before services.
    RunDestructionSteps(logic_, services_);
    DestroyWindowNow();
    throw;
  }
}

MainWindow::~MainWindow() {
  // The window goes first, so that nothing frozen stays on screen while the services
  // are started again (the spooler alone may take a minute).
  DestroyWindowNow();
  RunDestructionSteps(logic_, services_);
}

void MainWindow::DestroyWindowNow() {
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = nullptr;
}

void MainWindow::HideWindows() {
  ShowWindow(window_, SW_HIDE);
  // The application window carries the taskbar button.
  if (owner_ != nullptr) ShowWindow(owner_, SW_HIDE);
}

void MainWindow::EndSession() {
  HideWindows();
  // Shown by the system should the exit steps outlast its patience.
  ShutdownBlockReasonCreate(window_, L"Starting the print spooler and the printer's services again.");
  RunDestructionSteps(logic_, services_);
  ShutdownBlockReasonDestroy(window_);
  // The session ends: nothing else is to run, not even the rest of a model change
  // whose wait let this message in.
  ExitProcess(0);
}

void MainWindow::BuildControls(HINSTANCE instance) {
  INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&common);
  RegisterMainWindowClass(instance, Procedure);
  window_ = CreateWindowExA(WindowExStyle, MainWindowClass, MainWindowCaption, WindowStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, MainClientWidth, MainClientHeight, owner_, nullptr, instance, this);
  if (window_ == nullptr) throw std::runtime_error("The main window could not be created.");
  // Only the system menu: no size, minimise or maximise entries to choose.
  if (HMENU menu = GetSystemMenu(window_, FALSE)) {
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_RESTORE, MF_BYCOMMAND);
  }
  for (const ControlSpec& spec : Controls) {
    CreateWindowExA(0, spec.windowClass, spec.text, spec.style, 0, 0, 0, 0, window_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance, nullptr);
  }
  SendMessageA(Item(ProgressBarId), PBM_SETRANGE32, 0, 100);
  SendMessageA(Item(ProgressBarId), PBM_SETPOS, 0, 0);
  SendMessageA(Item(K40VIRadioButtonId), BM_SETCHECK, BST_CHECKED, 0);
  EnableWindow(Item(SetButtonId), FALSE);
  EnableWindow(Item(PrintButtonId), FALSE);
  EnableWindow(Item(K40VRadioButtonId), FALSE);
  EnableWindow(Item(K40IVRadioButtonId), FALSE);
  Layout(SystemDpi());
}

void MainWindow::Show() {
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetFocus(Item(PortComboBoxId));
}

// Client 470 x 270 at 96 dpi, centred on the screen; controls and font scale with dpi.
void MainWindow::Layout(int dpi) {
  HFONT old = font_;
  font_ = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
  for (const ControlSpec& spec : Controls) {
    HWND control = Item(spec.id);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    MoveWindow(control, Scale(spec.x, dpi), Scale(spec.y, dpi), Scale(spec.width, dpi), Scale(spec.height, dpi),
               TRUE);
  }
  if (old != nullptr) DeleteObject(old);

  RECT frame{0, 0, Scale(MainClientWidth, dpi), Scale(MainClientHeight, dpi)};
  AdjustWindowRectEx(&frame, WindowStyle, FALSE, WindowExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::ListUsbDevices() {
  const std::vector<int> vendor = PresentInterfaces(VendorUsbInterfaceClass);
  const std::vector<int> printer = PresentInterfaces(UsbPrintInterfaceClass);
  logic_.AddUsbDevices(vendor, printer);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* self = static_cast<MainWindow*>(create->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // Nothing may unwind through the system's code: keep the failure for the entry.
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (...) {
    if (!self->failure_) self->failure_ = std::current_exception();
    PostQuitMessage(0);
    return 0;
  }
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (themeFix_ && themeFix_->OnMessage(message)) return 0;
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      // Refused while a model change runs; otherwise both windows disappear at once,
      // the message loop ends and the entry destroys the window.
      if (logic_.CanClose()) {
        HideWindows();
        themeFix_.reset();
        PostQuitMessage(0);
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;  // never holds up a logoff or shutdown: the exit steps run below
    case WM_ENDSESSION:
      if (wParam != FALSE) EndSession();
      return 0;
    case WM_HELP:
      return TRUE;  // handled: no help file is ever opened
    case WM_SYSCOMMAND:
      // The application window carries the taskbar button: minimising goes through it.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && owner_ != nullptr) {
        PostMessageA(owner_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return 0;
      }
      break;
    case WM_DPICHANGED: {
      Layout(HIWORD(wParam));
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, int code) {
  switch (id) {
    case PortComboBoxId:
      if (code == CBN_SELCHANGE) {
        const LRESULT index = SendMessageA(Item(PortComboBoxId), CB_GETCURSEL, 0, 0);
        if (index != CB_ERR) logic_.SelectPort(static_cast<int>(index));
        logic_.PortComboBoxChange();
      }
      break;
    case AddButtonId:
      if (code == BN_CLICKED) AddButtonClick(window_, logic_);
      break;
    case GetButtonId:
      if (code == BN_CLICKED) logic_.GetButtonClick();
      break;
    case SetButtonId:
      if (code == BN_CLICKED) logic_.SetButtonClick();
      break;
    case PrintButtonId:
      if (code == BN_CLICKED) logic_.PrintButtonClick();
      break;
    case ExitButtonId:
      if (code == BN_CLICKED) SendMessageA(window_, WM_CLOSE, 0, 0);
      break;
    default:
      break;  // IDOK / IDCANCEL from Enter and Escape do nothing
  }
}

std::int64_t MainWindow::ElapsedMilliseconds() { return SteadyMilliseconds(); }

void MainWindow::Sleep(int milliseconds) { SleepMilliseconds(milliseconds); }

void MainWindow::PeekMessages() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

void MainWindow::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchProgramMessage(message, window_)) {
      // The main loop must still see the quit request.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
  }
}

void MainWindow::ShowMessage(const char* text, const char* title, MessageIcon icon) {
  MessageBoxA(window_, text, title, MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION));
}

void MainWindow::SetLabel2(const std::string& text) {
  SetWindowTextA(Item(Label2Id), text.c_str());
  UpdateWindow(Item(Label2Id));
}

void MainWindow::SetProgress(int position) {
  SendMessageA(Item(ProgressBarId), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void MainWindow::SetControlEnabled(Control control, bool enabled) {
  EnableWindow(Item(ControlIds[static_cast<int>(control)]), enabled ? TRUE : FALSE);
}

bool MainWindow::IsRadioChecked(Control radio) {
  return SendMessageA(Item(ControlIds[static_cast<int>(radio)]), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::AddPortItem(const std::string& name) {
  SendMessageA(Item(PortComboBoxId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

void MainWindow::SelectPortItem(int index) { SendMessageA(Item(PortComboBoxId), CB_SETCURSEL, index, 0); }

bool DispatchProgramMessage(MSG& message, HWND mainWindow) {
  if (message.message == WM_QUIT) return false;
  if ((message.message == WM_KEYDOWN || message.message == WM_KEYUP) && message.wParam == VK_F1) return true;
  if (mainWindow != nullptr && IsDialogMessageA(mainWindow, &message)) return true;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

}  // namespace qx
