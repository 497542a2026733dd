#pragma once

// TAddPortForm, the Add Port dialog: four button-style pages (COM, LPT, USB, Ethernet)
// offering the ports the system reports as present, with OK and Cancel below. It is
// created once, hidden, and shown modally for every Add Port; it stores nothing of
// its own, the Add Port command reads its controls after OK.

#include <windows.h>

#include <string>
#include <vector>

#include "addport/add_port_rules.h"
#include "port/net/net_printer_search.h"

namespace qx {

// Control identifiers (also what tests look the controls up by).
enum AddPortControlId : int {
  IdPageControl1 = 100,
  IdButton1 = 101,  // "OK"
  IdButton2 = 102,  // "Cancel"
  IdComboBox11 = 111,
  IdComboBox12 = 112,
  IdComboBox13 = 113,
  IdComboBox21 = 121,
  IdComboBox31 = 131,
  IdButton3 = 132,
  IdEdit1 = 141,  // Edit1 to Edit4 are consecutive
  IdComboBox41 = 145,
  IdButton4 = 146,
  IdLabel1 = 151,
  IdLabel5 = 152,
  IdLabel6 = 153,
  IdLabel2 = 154,
  IdLabel3 = 155,
  IdLabel4 = 156,
};

inline constexpr UINT SearchResultMessage = 0x10D9;  // 4313
inline constexpr int ModalResultOk = 1;
inline constexpr int ModalResultCancel = 2;
inline constexpr char AddPortFormClass[] = "TAddPortForm";
inline constexpr char AddPortFormCaption[] = "Add Port";

class TAddPortForm {
 public:
  // Creates the hidden dialog owned by `owner` and refreshes the "USB" page.
  explicit TAddPortForm(HWND owner);
  TAddPortForm(const TAddPortForm&) = delete;
  TAddPortForm& operator=(const TAddPortForm&) = delete;
  // Closes the search, then destroys the window.
  ~TAddPortForm();

  void RefreshPortLists();
  // Shows the dialog modally over its owner; ModalResultOk or ModalResultCancel.
  int ShowModal();

  HWND Handle() const { return window_; }
  HWND Owner() const { return owner_; }
  AddPortPage ActivePage() const;
  // What the Add Port command reads after OK.
  AddPortChoice Choice() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  void ShowActivePage();
  void PageControl1Change();
  void FormShow();
  void SearchResult();
  void ComboBox41Change();
  void EditExit(int field);
  void ButtonClick(int modalResult);
  void EndModal(int modalResult);
  void CloseSearch();
  void CentreOnOwner();
  int Scale(int pixels) const;

  HWND owner_ = nullptr;
  HWND window_ = nullptr;
  HFONT boldFont_ = nullptr;
  HFONT plainFont_ = nullptr;
  int dpi_ = 96;
  int modalResult_ = 0;
  bool searchClosed_ = false;
  // The USB list as last filled, so that OK can tell each item's interface index.
  std::vector<UsbListEntry> usbEntries_;
  NetPrinterSearch search_;
};

}  // namespace qx
