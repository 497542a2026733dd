#include "addport/add_port_dialog.h"

#include <commctrl.h>

#include <cstring>

#include "port/device/device_calls.h"

namespace qx {

namespace {

constexpr int ClientWidth = 320;
constexpr int ClientHeight = 217;
constexpr int OctetFieldLength = 3;
constexpr int QueryTargetSize = 4096;
constexpr int ReplyTextSize = 32;
constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

constexpr int AllPages = -1;
constexpr DWORD DropDownList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD PushButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD Edit = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

struct ControlSpec {
  int Page;  // AllPages, or the page it sits on
  const char* ClassName;
  const char* Text;
  int Id;
  int X, Y, Width, Height;  // client pixels at 96 dpi; a drop-down list's height includes its list
  DWORD Style;
  bool Bold;
};

// In tab order.
constexpr ControlSpec Controls[] = {
    {AllPages, WC_TABCONTROLA, "", IdPageControl1, 8, 8, 304, 168, TCS_BUTTONS | TCS_FLATBUTTONS | WS_TABSTOP, true},
    // COM
    {0, "STATIC", "Port", IdLabel1, 24, 52, 64, 16, SS_LEFT, true},
    {0, WC_COMBOBOXA, "", IdComboBox11, 96, 48, 136, 200, DropDownList, true},
    {0, "STATIC", "Speed", IdLabel5, 24, 88, 64, 16, SS_LEFT, true},
    {0, WC_COMBOBOXA, "", IdComboBox12, 96, 84, 136, 200, DropDownList, true},
    {0, "STATIC", "Parity", IdLabel6, 24, 124, 64, 16, SS_LEFT, true},
    {0, WC_COMBOBOXA, "", IdComboBox13, 96, 120, 136, 200, DropDownList, true},
    // LPT
    {1, "STATIC", "Port", IdLabel2, 24, 52, 64, 16, SS_LEFT, true},
    {1, WC_COMBOBOXA, "", IdComboBox21, 96, 48, 136, 200, DropDownList, true},
    // USB
    {2, "STATIC", "Port", IdLabel3, 24, 52, 64, 16, SS_LEFT, true},
    {2, WC_COMBOBOXA, "", IdComboBox31, 96, 48, 136, 200, DropDownList, true},
    {2, WC_BUTTONA, "Find", IdButton3, 240, 47, 56, 23, PushButton, false},
    // Ethernet
    {3, "STATIC", "IP Address", IdLabel4, 24, 52, 72, 16, SS_LEFT, true},
    {3, WC_EDITA, "192", IdEdit1 + 0, 96, 48, 36, 21, Edit, true},
    {3, WC_EDITA, "168", IdEdit1 + 1, 136, 48, 36, 21, Edit, true},
    {3, WC_EDITA, "192", IdEdit1 + 2, 176, 48, 36, 21, Edit, true},
    {3, WC_EDITA, "168", IdEdit1 + 3, 216, 48, 36, 21, Edit, true},
    {3, WC_COMBOBOXA, "", IdComboBox41, 96, 84, 140, 200, DropDownList, true},
    {3, WC_BUTTONA, "Find", IdButton4, 240, 83, 56, 23, PushButton, false},
    // Below the pages.
    {AllPages, WC_BUTTONA, "OK", IdButton1, 152, 184, 75, 25, PushButton, true},
    {AllPages, WC_BUTTONA, "Cancel", IdButton2, 237, 184, 75, 25, PushButton, true},
};

constexpr const char* PageCaptions[AddPortPageCount] = {"COM", "LPT", "USB", "Ethernet"};

std::string WindowText(HWND control) {
  char text[64] = {};
  GetWindowTextA(control, text, sizeof text);
  return text;
}

std::string SelectedItemText(HWND combo) {
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return "";
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR || length <= 0) return "";
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::vector<std::string> Items(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, i, 0);
    std::string text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0) SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    items.push_back(text);
  }
  return items;
}

void FillList(HWND combo, const std::vector<std::string>& names) {
  for (const std::string& name : names) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

bool DosDeviceExists(const std::string& name) {
  std::vector<char> target(QueryTargetSize);
  return QueryDosDeviceA(name.c_str(), target.data(), QueryTargetSize) != 0;
}

ATOM RegisterFormClass() {
  static const ATOM atom = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;  // replaced per window at WM_NCCREATE
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = AddPortFormClass;
    return RegisterClassExA(&wc);
  }();
  return atom;
}

}  // namespace

TAddPortForm::TAddPortForm(HWND owner) : owner_(owner) {
  RegisterFormClass();
  // Only the form's own messages go through this object; the class procedure stays the
  // default so that nothing reaches an object that is not yet (or no longer) there.
  window_ = CreateWindowExA(FormExStyle, AddPortFormClass, AddPortFormCaption, FormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            ClientWidth, ClientHeight, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window_) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TAddPortForm::WindowProc));
  const HDC screen = GetDC(nullptr);
  dpi_ = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  RECT frame{0, 0, Scale(ClientWidth), Scale(ClientHeight)};
  AdjustWindowRectEx(&frame, FormStyle, FALSE, FormExStyle);
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
  RefreshPortLists();
}

TAddPortForm::~TAddPortForm() {
  CloseSearch();
  if (window_) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (boldFont_) DeleteObject(boldFont_);
  if (plainFont_) DeleteObject(plainFont_);
}

int TAddPortForm::Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

void TAddPortForm::CreateControls() {
  LOGFONTA font{};
  font.lfHeight = -MulDiv(8, dpi_, 72);
  font.lfWeight = FW_BOLD;
  font.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(font.lfFaceName, "Tahoma");
  boldFont_ = CreateFontIndirectA(&font);
  font.lfWeight = FW_NORMAL;
  plainFont_ = CreateFontIndirectA(&font);

  for (const ControlSpec& c : Controls) {
    DWORD style = WS_CHILD | c.Style;
    if (c.Page == AllPages) style |= WS_VISIBLE;
    if (c.Id == IdPageControl1) style |= WS_CLIPSIBLINGS;
    HWND control = CreateWindowExA(0, c.ClassName, c.Text, style, Scale(c.X), Scale(c.Y), Scale(c.Width),
                                   Scale(c.Height), window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)),
                                   GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(c.Bold ? boldFont_ : plainFont_), FALSE);
  }
  HWND pages = Item(IdPageControl1);
  for (int page = 0; page < AddPortPageCount; ++page) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(PageCaptions[page]);
    SendMessageA(pages, TCM_INSERTITEMA, page, reinterpret_cast<LPARAM>(&item));
  }
  // The page control lies beneath the controls it holds.
  SetWindowPos(pages, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  for (const char* speed : SpeedItems) {
    SendMessageA(Item(IdComboBox12), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
  }
  SendMessageA(Item(IdComboBox12), CB_SETCURSEL, DefaultSpeedIndex, 0);
  for (const char* parity : ParityItems) {
    SendMessageA(Item(IdComboBox13), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(parity));
  }
  SendMessageA(Item(IdComboBox13), CB_SETCURSEL, DefaultParityIndex, 0);
  for (int field = 0; field < 4; ++field) SendMessageA(Item(IdEdit1 + field), EM_SETLIMITTEXT, OctetFieldLength, 0);

  SendMessageA(pages, TCM_SETCURSEL, static_cast<WPARAM>(AddPortPage::Usb), 0);
  ShowActivePage();
}

AddPortPage TAddPortForm::ActivePage() const {
  const LRESULT page = window_ ? SendMessageA(Item(IdPageControl1), TCM_GETCURSEL, 0, 0) : -1;
  if (page < 0 || page >= AddPortPageCount) return AddPortPage::Usb;
  return static_cast<AddPortPage>(page);
}

void TAddPortForm::ShowActivePage() {
  const int active = static_cast<int>(ActivePage());
  for (const ControlSpec& c : Controls) {
    if (c.Page != AllPages) ShowWindow(Item(c.Id), c.Page == active ? SW_SHOWNA : SW_HIDE);
  }
}

void TAddPortForm::RefreshPortLists() {
  if (!window_) return;
  for (int id : {IdComboBox11, IdComboBox21, IdComboBox31, IdComboBox41}) SendMessageA(Item(id), CB_RESETCONTENT, 0, 0);
  const AddPortPage page = ActivePage();
  if (page == AddPortPage::Com) FillList(Item(IdComboBox11), PresentDeviceNames("COM", DosDeviceExists));
  SendMessageA(Item(IdComboBox11), CB_SETCURSEL, 0, 0);
  if (page == AddPortPage::Lpt) FillList(Item(IdComboBox21), PresentDeviceNames("LPT", DosDeviceExists));
  SendMessageA(Item(IdComboBox21), CB_SETCURSEL, 0, 0);
  if (page == AddPortPage::Usb) {
    usbEntries_ = UsbListEntries(PresentInterfaces(VendorUsbInterfaceClass), PresentInterfaces(UsbPrintInterfaceClass));
    for (const UsbListEntry& entry : usbEntries_) {
      SendMessageA(Item(IdComboBox31), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Name.c_str()));
    }
  }
  SendMessageA(Item(IdComboBox31), CB_SETCURSEL, 0, 0);
  if (page == AddPortPage::Ethernet) {
    SendMessageA(Item(IdComboBox41), CB_RESETCONTENT, 0, 0);
    search_.Broadcast();
  }
  SendMessageA(Item(IdComboBox41), CB_SETCURSEL, 0, 0);
}

void TAddPortForm::PageControl1Change() {
  ShowActivePage();
  RefreshPortLists();
}

void TAddPortForm::FormShow() {
  search_.Open(window_, SearchResultMessage);
  SendMessageA(Item(IdComboBox41), CB_RESETCONTENT, 0, 0);
  search_.Broadcast();
}

void TAddPortForm::SearchResult() {
  char address[ReplyTextSize] = {};
  if (search_.ReadReply(address, sizeof address) != 1) return;
  address[ReplyTextSize - 1] = '\0';
  HWND list = Item(IdComboBox41);
  std::vector<std::string> listed = Items(list);
  if (!AddSearchAnswer(listed, address)) return;
  SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(address));
  SendMessageA(list, CB_SETCURSEL, 0, 0);
  ComboBox41Change();
}

void TAddPortForm::ComboBox41Change() {
  HWND list = Item(IdComboBox41);
  if (SendMessageA(list, CB_GETCOUNT, 0, 0) <= 0) return;
  std::array<std::string, 4> octets;
  for (int field = 0; field < 4; ++field) octets[field] = WindowText(Item(IdEdit1 + field));
  SplitAddressIntoOctets(SelectedItemText(list), octets);
  for (int field = 0; field < 4; ++field) SetWindowTextA(Item(IdEdit1 + field), octets[field].c_str());
}

void TAddPortForm::EditExit(int field) {
  HWND edit = Item(IdEdit1 + field);
  const std::string text = WindowText(edit);
  const std::string normal = NormaliseOctet(text);
  if (normal != text) SetWindowTextA(edit, normal.c_str());
}

void TAddPortForm::ButtonClick(int modalResult) {
  if (modalResult == ModalResultOk) {
    // A click that did not move the focus (a posted one) must still find the fields
    // corrected.
    for (int field = 0; field < 4; ++field) EditExit(field);
  }
  EndModal(modalResult);
}

void TAddPortForm::EndModal(int modalResult) {
  modalResult_ = modalResult;
  // A sent message is handled inside GetMessage, which would go on waiting: wake it.
  PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
}

void TAddPortForm::CloseSearch() {
  if (searchClosed_) return;
  searchClosed_ = true;
  search_.Close();
}

AddPortChoice TAddPortForm::Choice() const {
  AddPortChoice choice;
  choice.Page = ActivePage();
  if (!window_) return choice;
  choice.ComName = SelectedItemText(Item(IdComboBox11));
  choice.SpeedIndex = static_cast<int>(SendMessageA(Item(IdComboBox12), CB_GETCURSEL, 0, 0));
  choice.ParityIndex = static_cast<int>(SendMessageA(Item(IdComboBox13), CB_GETCURSEL, 0, 0));
  choice.LptName = SelectedItemText(Item(IdComboBox21));
  choice.UsbName = SelectedItemText(Item(IdComboBox31));
  choice.UsbIndex = static_cast<int>(SendMessageA(Item(IdComboBox31), CB_GETCURSEL, 0, 0));
  choice.UsbEntries = usbEntries_;
  for (int field = 0; field < 4; ++field) choice.Octets[field] = WindowText(Item(IdEdit1 + field));
  return choice;
}

void TAddPortForm::CentreOnOwner() {
  RECT frame{};
  GetWindowRect(window_, &frame);
  RECT around{};
  if (!owner_ || !GetWindowRect(owner_, &around)) {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &around, 0);
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = around.left + ((around.right - around.left) - width) / 2;
  const int y = around.top + ((around.bottom - around.top) - height) / 2;
  SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TAddPortForm::ShowModal() {
  if (!window_) return ModalResultCancel;
  modalResult_ = 0;
  CentreOnOwner();
  if (owner_) EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  FormShow();
  SetFocus(GetNextDlgTabItem(window_, nullptr, FALSE));

  MSG message;
  while (modalResult_ == 0) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      // The application is ending: leave the quit request for the outer loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      modalResult_ = ModalResultCancel;
      break;
    }
    if (got < 0) {
      modalResult_ = ModalResultCancel;
      break;
    }
    if (!IsDialogMessageA(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  // The owner comes back before the dialog goes, so that it gets the activation.
  if (owner_) EnableWindow(owner_, TRUE);
  ShowWindow(window_, SW_HIDE);
  if (owner_) SetActiveWindow(owner_);
  return modalResult_;
}

LRESULT CALLBACK TAddPortForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TAddPortForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!form) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return form->Handle(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind through the system's code.
    return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT TAddPortForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case SearchResultMessage:
      SearchResult();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IdButton1 && code == BN_CLICKED) ButtonClick(ModalResultOk);
      if (id == IdButton2 && code == BN_CLICKED) ButtonClick(ModalResultCancel);
      // Find on "USB" and on "Ethernet" refresh the active page's list.
      if ((id == IdButton3 || id == IdButton4) && code == BN_CLICKED) RefreshPortLists();
      if (id == IdComboBox41 && code == CBN_SELCHANGE) ComboBox41Change();
      if (id >= IdEdit1 && id < IdEdit1 + 4 && code == EN_KILLFOCUS) EditExit(id - IdEdit1);
      // IDOK and IDCANCEL (Enter and Escape) do nothing.
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && header->idFrom == IdPageControl1 && header->code == TCN_SELCHANGE) PageControl1Change();
      return 0;
    }
    case WM_CLOSE:
      // The system menu's close is Cancel; the form stays for the next showing.
      EndModal(ModalResultCancel);
      return 0;
    case WM_HELP:
      return TRUE;
    case WM_DESTROY:
      // The owner's destruction takes the form with it: stop the search first, and end
      // a modal showing, which has nothing left to show.
      CloseSearch();
      if (modalResult_ == 0) EndModal(ModalResultCancel);
      break;
    case WM_NCDESTROY: {
      HWND window = window_;
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      window_ = nullptr;
      return DefWindowProcA(window, message, wParam, lParam);
    }
    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

}  // namespace qx
