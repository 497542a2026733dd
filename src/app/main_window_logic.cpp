#include "app/main_window_logic.h"

#include <cstdio>
#include <cstring>

namespace qx {

namespace {

struct Timeouts {
  std::uint32_t ReadMultiplier;
  std::uint32_t ReadConstant;
  std::uint32_t WriteMultiplier;
  std::uint32_t WriteConstant;  // 0 here stands for the serial BaudCode rule
};

// Per-kind time-outs handed to every port at construction...
constexpr Timeouts StartTimeouts[PortKindCount] = {
    {0, 0, 0, 0}, {50, 100, 0, 2000}, {0, 0, 0, 2000}, {50, 100, 0, 2000}, {50, 100, 0, 2000}, {50, 100, 0, 2000},
};
// ...and before every exchange.
constexpr Timeouts ExchangeTimeouts[PortKindCount] = {
    {0, 10, 0, 0}, {0, 0, 0, 2000}, {0, 10, 0, 2000}, {50, 100, 0, 2000}, {50, 100, 0, 2000}, {50, 100, 0, 2000},
};

void ConfigureAll(PortTable& ports, PortSettings& settings, const Timeouts (&table)[PortKindCount]) {
  for (int index = 0; index < PortKindCount; ++index) {
    const Timeouts& t = table[index];
    settings.ReadTimeoutMultiplier = t.ReadMultiplier;
    settings.ReadTimeoutConstant = t.ReadConstant;
    settings.WriteTimeoutMultiplier = t.WriteMultiplier;
    settings.WriteTimeoutConstant = index == KindSerial ? SerialWriteTimeout(settings.BaudCode) : t.WriteConstant;
    ports.Configure(index, &settings);
  }
}

constexpr int ReplyByteLimitMs = 2000;
constexpr int FlushReads = 5;
constexpr int FlushBufferSize = 1024;
// The printer may send status messages after its restart; the confirmation skips them,
// but a printer that never stops sending them must not keep the window busy forever.
constexpr int ConfirmationLimitMs = 30000;

}  // namespace

std::uint32_t SerialWriteTimeout(std::int32_t baudCode) {
  if (baudCode == 0 || baudCode == 1) return 8000;
  if (baudCode == 2) return 4000;
  return 2000;
}

PortSettings DefaultPortSettings() {
  PortSettings s;
  s.PortType = KindSerial;
  s.SyncMode = 1;
  s.PortNumber = 0;
  s.BaudCode = 4;
  s.DataBits = 8;
  s.IpAddress[0] = 192;
  s.IpAddress[1] = 168;
  s.IpAddress[2] = 192;
  s.IpAddress[3] = 168;
  s.WriteTimeoutConstant = SerialWriteTimeout(s.BaudCode);
  return s;
}

MainWindowLogic::MainWindowLogic(PortTable& ports, MainWindowHost& host)
    : ports_(ports), host_(host), current_(DefaultPortSettings()) {
  // The controls' states as the form creates them.
  enabled_[static_cast<int>(Control::AddButton)] = true;
  enabled_[static_cast<int>(Control::GetButton)] = true;
  enabled_[static_cast<int>(Control::ExitButton)] = true;
  enabled_[static_cast<int>(Control::PortComboBox)] = true;
  enabled_[static_cast<int>(Control::K40VIRadioButton)] = true;
}

void MainWindowLogic::CreatePorts(ModuleInstance instance) {
  current_ = DefaultPortSettings();
  libraryUp_ = true;
  ports_.LibraryInit(instance);
  for (int type = 0; type < PortKindCount; ++type) {
    // Counted before the call: the table counts every creation it was asked for, also
    // one that fails or throws, and each needs its destroy.
    ++createCalls_;
    ports_.Create(type);
  }
  ConfigureAll(ports_, current_, StartTimeouts);
}

void MainWindowLogic::DestroyPorts() {
  // Once, and only what was created: a second round would drive the table's count
  // below zero, and the library would then refuse to shut down.
  for (; createCalls_ > 0; --createCalls_) ports_.Destroy(createCalls_ - 1);
  if (libraryUp_) ports_.LibraryShutdown();
  libraryUp_ = false;
}

void MainWindowLogic::AddUsbDevices(const std::vector<int>& vendorInterfaces,
                                    const std::vector<int>& printerInterfaces) {
  PortSettings entry = current_;
  for (const UsbListEntry& usb : UsbListEntries(vendorInterfaces, printerInterfaces)) {
    entry.PortType = usb.PortType;
    entry.DeviceNumber = usb.DeviceNumber;
    AddPortEntry(usb.Name, entry);
  }
}

void MainWindowLogic::AddPortEntry(const std::string& name, const PortSettings& settings) {
  int index = -1;
  switch (list_.AddPortEntry(name, settings, index)) {
    case PortList::Added::Ignored:
      return;
    case PortList::Added::Appended:
      host_.AddPortItem(name);
      [[fallthrough]];
    case PortList::Added::Updated:
      host_.SelectPortItem(index);
  }
}

void MainWindowLogic::PortComboBoxChange() {
  const bool any = list_.Count() > 0;
  for (Control c : {Control::K40VRadioButton, Control::K40IVRadioButton, Control::PrintButton, Control::SetButton,
                    Control::GetButton}) {
    SetEnabled(c, any);
  }
  SetLabel("");
}

void MainWindowLogic::SetControlsEnabled(bool enabled) {
  for (int c = 0; c < ControlCount; ++c) SetEnabled(static_cast<Control>(c), enabled);
}

void MainWindowLogic::SetEnabled(Control control, bool enabled) {
  enabled_[static_cast<int>(control)] = enabled;
  host_.SetControlEnabled(control, enabled);
}

void MainWindowLogic::SetLabel(const std::string& text) {
  label2_ = text;
  host_.SetLabel2(text);
}

void MainWindowLogic::SetProgress(int position) {
  progress_ = position;
  host_.SetProgress(position);
}

void MainWindowLogic::ConfigurePortsForExchange() {
  const int selected = list_.Selected();
  if (selected >= 0) current_ = list_.Entry(selected);
  ConfigureAll(ports_, current_, ExchangeTimeouts);
}

bool MainWindowLogic::Write(const std::uint8_t* data, int length) {
  int written = 0;
  // -1 (no such port) is a failure as much as 0.
  return ports_.Write(Type(), 0, data, length, &written) == 1;
}

void MainWindowLogic::CloseAndReport(const char* text, MessageIcon icon) {
  ports_.Close(Type());
  Report(text, icon);
}

void MainWindowLogic::Report(const char* text, MessageIcon icon) {
  host_.SetFineSleeps(false);
  host_.ShowMessage(text, icon == MessageIcon::Error ? TitleError : TitleInformation, icon);
}

void MainWindowLogic::FlushInput() {
  std::uint8_t discard[FlushBufferSize];
  for (int i = 0; i < FlushReads; ++i) {
    int got = 0;
    ports_.Read(Type(), discard, FlushBufferSize, &got);
  }
}

bool MainWindowLogic::BeginExchange() {
  host_.SetFineSleeps(true);
  ConfigurePortsForExchange();
  if (ports_.Open(Type()) != 1) {
    Report(MessageCannotOpen, MessageIcon::Error);
    return false;
  }
  FlushInput();

  std::uint8_t reply[ReplyBufferSize] = {};
  int length = 0;
  if (!Write(IdentifyCommand)) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return false;
  }
  // '7' 'M' 'C' and "QX-K40": nine bytes, the rest of the model name is not compared.
  static constexpr char identity[] = "7MCQX-K40";
  int result = ReceiveReply(reply, length);
  if (result != ReplyBlock || length < 2 || std::memcmp(reply, identity, 9) != 0) {
    CloseAndReport(MessageNotRecognised, MessageIcon::Error);
    return false;
  }

  if (!Write(FirmwareQuery)) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return false;
  }
  result = ReceiveReply(reply, length);
  if (result != ReplyBlock || length < 2 || reply[0] != '_' || (reply[1] >= '1' && reply[1] <= '5')) {
    CloseAndReport(MessageNotRecognised, MessageIcon::Error);
    return false;
  }
  return true;
}

int MainWindowLogic::ReadReplyByte() {
  const std::int64_t start = host_.ElapsedMilliseconds();
  for (;;) {
    std::uint8_t b = 0;
    int got = 0;
    if (ports_.Read(Type(), &b, 1, &got) == 1 && got == 1 && b != Xon && b != Xoff) return b;
    // The port-service kind reads from a queue filled by its own thread: no pause.
    if (Type() >= 0 && Type() <= 4) host_.Sleep(1);
    if (host_.ElapsedMilliseconds() - start >= ReplyByteLimitMs) return -1;
  }
}

int MainWindowLogic::ReceiveReply(std::uint8_t* reply, int& length) {
  length = 0;
  if (receiveBusy_) return ReplyNone;
  receiveBusy_ = true;
  struct ClearBusy {
    bool& flag;
    ~ClearBusy() { flag = false; }
  } clear{receiveBusy_};

  enum class State { Start, Status, Block } state = State::Start;
  int i = 0;
  int j = 0;
  for (;;) {
    const int b = ReadReplyByte();
    host_.PeekMessages();
    if (b < 0) return ReplyNone;  // partial data are dropped
    const auto byte = static_cast<std::uint8_t>(b);
    switch (state) {
      case State::Start:
        switch (ClassifyReplyByte(byte)) {
          case ReplyStatusByte:
            reply[0] = byte;
            length = 1;
            return ReplyStatusByte;
          case ReplyAutoStatus:
            reply[i++] = byte;
            state = State::Status;
            break;
          case ReplyBlock:
            reply[j++] = byte;
            state = State::Block;
            break;
          default:
            reply[0] = byte;
            length = 1;
            return ReplyOther;
        }
        break;
      case State::Status:
        reply[i++] = byte;
        if (i == 4) {
          length = 4;
          return ReplyAutoStatus;
        }
        break;
      case State::Block:
        // No accepted reply is this long: stop at the end of the buffer, as for a
        // reply that never completes.
        if (j == ReplyBufferSize) return ReplyNone;
        reply[j++] = byte;
        if (byte == 0x00) {
          length = j;
          return ReplyBlock;
        }
        break;
    }
  }
}

void MainWindowLogic::GetButtonClick() {
  if (!BeginExchange()) return;
  if (!Write(ModelSettingQuery)) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return;
  }
  std::uint8_t reply[ReplyBufferSize] = {};
  int length = 0;
  const int result = ReceiveReply(reply, length);
  std::uint8_t digit = 0;
  if (IsModelSettingReply(result, reply, length, digit)) {
    SetLabel(ModelNameForDigit(digit));
    CloseAndReport(MessageGetSucceeded, MessageIcon::Information);
    return;
  }
  CloseAndReport(MessageCannotGet, MessageIcon::Error);
}

void MainWindowLogic::PrintButtonClick() {
  if (!BeginExchange()) return;
  const bool sent = Write(reinterpret_cast<const std::uint8_t*>(TestPrintText), TestPrintLength);
  if (sent) {
    CloseAndReport(MessagePrintSucceeded, MessageIcon::Information);
  } else {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
  }
}

void MainWindowLogic::SetButtonClick() {
  SetControlsEnabled(false);
  SetProgress(0);
  ChangeModelSetting();
  SetControlsEnabled(true);
}

void MainWindowLogic::ChangeModelSetting() {
  if (!BeginExchange()) return;

  std::uint8_t reply[ReplyBufferSize] = {};
  int length = 0;
  if (!Write(EnterSettingMode)) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return;
  }
  // 37 20 00, compared within the reply: a block ends at its NUL, so this one is 3 long.
  const int result = ReceiveReply(reply, length);
  if (result != ReplyBlock || length < 3 || reply[0] != 0x37 || reply[1] != 0x20 || reply[2] != 0x00) {
    CloseAndReport(MessageCannotGet, MessageIcon::Error);
    return;
  }

  std::uint8_t value = ModelValueK40VII;
  if (host_.IsRadioChecked(Control::K40IVRadioButton)) {
    value = ModelValueK40V;
  } else if (host_.IsRadioChecked(Control::K40VRadioButton)) {
    value = ModelValueK40VI;
  }
  if (!Write(WriteModelSetting(value))) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return;
  }
  const bool left = Write(LeaveSettingMode);
  ports_.Close(Type());
  if (!left) {
    Report(MessageCannotSend, MessageIcon::Error);
    return;
  }

  // The printer restarts with its new setting and cannot be reached meanwhile.
  const std::int64_t limit = (Type() == KindNetwork ? 60 : 40) * 1000;
  const std::int64_t start = host_.ElapsedMilliseconds();
  for (;;) {
    const std::int64_t e1 = host_.ElapsedMilliseconds() - start;
    const std::int64_t e2 = host_.ElapsedMilliseconds() - start;
    if (e2 >= limit) {
      SetProgress(100);
      break;
    }
    host_.Sleep(1);
    host_.ProcessMessages();
    SetProgress(static_cast<int>(e1 * 100 / limit));
  }

  if (!ReopenAfterRestart()) {
    Report(MessageCannotOpen, MessageIcon::Error);
    return;
  }
  FlushInput();
  if (!Write(ModelSettingQuery)) {
    CloseAndReport(MessageCannotSend, MessageIcon::Error);
    return;
  }
  const int confirmation = ReceiveConfirmation(reply, length);
  std::uint8_t digit = 0;
  if (IsModelSettingReply(confirmation, reply, length, digit)) {
    SetLabel(ModelNameForDigit(digit));
    CloseAndReport(MessageSetSucceeded, MessageIcon::Information);
    return;
  }
  CloseAndReport(MessageCannotGet, MessageIcon::Error);
}

bool MainWindowLogic::ReopenAfterRestart() {
  static constexpr int delays[] = {2000, 4000, 6000};
  if (ports_.Open(Type()) == 1) return true;
  for (int delay : delays) {
    host_.Sleep(delay);
    if (ports_.Open(Type()) == 1) return true;
  }
  return false;
}

int MainWindowLogic::ReceiveConfirmation(std::uint8_t* reply, int& length) {
  // Status messages and other replies are skipped until a '7' block or silence.
  const std::int64_t start = host_.ElapsedMilliseconds();
  for (;;) {
    const int result = ReceiveReply(reply, length);
    if (result == ReplyNone) return result;
    if (result == ReplyBlock && length >= 2 && reply[0] == 0x37) return result;
    if (host_.ElapsedMilliseconds() - start >= ConfirmationLimitMs) {
      length = 0;
      return ReplyNone;
    }
  }
}

}  // namespace qx
