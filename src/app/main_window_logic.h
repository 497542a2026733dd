#pragma once

// The main window without its window: the state it keeps, how it sets up and tears
// down the port table, the port list rules, which controls are enabled, and the three
// exchanges behind Get, Set and Print Test. Everything runs on the user-interface
// thread; waits go through the host so that tests can run them on a fake clock.

#include <cstdint>
#include <string>
#include <vector>

#include "app/main_window_host.h"
#include "app/port_list.h"
#include "app/printer_protocol.h"
#include "port/port_table.h"

namespace qx {

// CurrentSettings at construction; WriteTimeoutConstant follows the BaudCode rule.
PortSettings DefaultPortSettings();
// 8000 ms for BaudCode 0 and 1, 4000 ms for 2, 2000 ms otherwise.
std::uint32_t SerialWriteTimeout(std::int32_t baudCode);

class MainWindowLogic {
 public:
  MainWindowLogic(PortTable& ports, MainWindowHost& host);

  // Construction steps 3 to 6 and 8 (the window lists the USB devices, step 7, with
  // AddUsbDevices in between) and destruction steps 1 and 2. DestroyPorts undoes what
  // CreatePorts did, also when it was cut short, and does nothing a second time.
  void CreatePorts(ModuleInstance instance);
  void DestroyPorts();

  // The USB devices found at start or in the dialog: the interface indexes whose
  // details could be read, vendor driver first, printer class second. Names share one
  // running number; a printer-class entry carries its index among the printer-class
  // interfaces, so that its port opens the device that was listed.
  void AddUsbDevices(const std::vector<int>& vendorInterfaces, const std::vector<int>& printerInterfaces);

  // Port list.
  void AddPortEntry(const std::string& name, const PortSettings& settings);
  // The operator selected another item (the window then calls PortComboBoxChange).
  void SelectPort(int index) { list_.Select(index); }
  void PortComboBoxChange();

  void SetControlsEnabled(bool enabled);
  // FormClose: the window may close unless a model change runs (AddButton disabled).
  bool CanClose() const { return IsEnabled(Control::AddButton); }

  // The three buttons.
  void GetButtonClick();
  void SetButtonClick();
  void PrintButtonClick();

  // The shared exchange machinery, public for the window's own use and for tests.
  void ConfigurePortsForExchange();
  bool BeginExchange();
  void FlushInput();
  int ReceiveReply(std::uint8_t* reply, int& length);
  int ReadReplyByte();

  const PortSettings& CurrentSettings() const { return current_; }
  const PortList& Ports() const { return list_; }
  bool IsEnabled(Control control) const { return enabled_[static_cast<int>(control)]; }
  const std::string& Label2() const { return label2_; }
  int Progress() const { return progress_; }

 private:
  int Type() const { return current_.PortType; }
  bool Write(const std::uint8_t* data, int length);
  template <std::size_t N>
  bool Write(const std::array<std::uint8_t, N>& command) {
    return Write(command.data(), static_cast<int>(N));
  }
  // Closes the port, then shows one message box.
  void CloseAndReport(const char* text, MessageIcon icon);
  // Ends the exchange's fine sleeps, then shows its box.
  void Report(const char* text, MessageIcon icon);
  void SetEnabled(Control control, bool enabled);
  void SetLabel(const std::string& text);
  void SetProgress(int position);
  bool ReopenAfterRestart();
  int ReceiveConfirmation(std::uint8_t* reply, int& length);
  void ChangeModelSetting();

  PortTable& ports_;
  MainWindowHost& host_;
  PortSettings current_;
  PortList list_;
  bool enabled_[ControlCount] = {};
  std::string label2_;
  int progress_ = 0;
  // Set while a ReceiveReply runs; a nested one returns ReplyNone at once.
  bool receiveBusy_ = false;
  // Create calls not yet undone, and whether the library is up.
  int createCalls_ = 0;
  bool libraryUp_ = false;
};

}  // namespace qx
