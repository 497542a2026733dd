// The printer's replies as the exchanges behind Get, Set and Print Test read them:
// ReceiveReply's framing, the identify and firmware checks, the model-setting reply and
// the confirmations of a model change, all through the real port table over an
// in-memory device on a fake clock.
//
// Input: one byte choosing the exchange, then the printer's answers, one per command
// the host sends: a length byte and that many bytes. What is left after the last
// answer arrives with the first command.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_logic.h"
#include "support/fake_host.h"
#include "support/memory_port.h"

namespace {

using qx::MainWindowLogic;
using qx::PortSettings;
using qx::PortTable;
using qx::test::FakeHost;
using qx::test::MemoryDevice;
using qx::test::TMemoryPort;

std::vector<std::string> SplitAnswers(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> answers;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = data[at++];
    const std::size_t n = length < size - at ? length : size - at;
    answers.emplace_back(reinterpret_cast<const char*>(data + at), n);
    at += n;
  }
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int exchange = data[0] % 3;
  const std::vector<std::string> answers = SplitAnswers(data + 1, size - 1);

  MemoryDevice device;
  std::size_t next = 0;
  device.OnWrite = [&](const std::string&) {
    if (next < answers.size()) device.Feed(answers[next++]);
  };
  FakeHost host;
  // The model change waits with a message pump; the radio buttons pick a value.
  host.checked[static_cast<int>(qx::Control::K40IVRadioButton)] = (data[0] & 0x10) != 0;
  PortTable table{[&](int kind) { return std::make_unique<TMemoryPort>(kind, device); }};
  MainWindowLogic logic{table, host};
  logic.CreatePorts(nullptr);
  PortSettings settings = logic.CurrentSettings();
  settings.PortType = qx::KindSerial;
  logic.AddPortEntry("COM1", settings);
  logic.SelectPort(0);
  logic.PortComboBoxChange();

  switch (exchange) {
    case 0:
      logic.GetButtonClick();
      break;
    case 1:
      logic.SetButtonClick();
      break;
    default:
      logic.PrintButtonClick();
      break;
  }
  // Every exchange ends with exactly one message box and the controls usable again.
  if (host.Boxes().size() != 1 || !logic.CanClose()) __builtin_trap();
  logic.DestroyPorts();
  return 0;
}
