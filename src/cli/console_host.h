#pragma once

// The main window's host for a console: message boxes become lines on standard error
// (title and text as the window shows them), the restart wait of Set a progress line
// when standard error is a terminal, and the radio buttons follow the MODEL argument.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_window_host.h"

namespace qx::cli {

struct ShownMessage {
  std::string Title;
  std::string Text;
  MessageIcon Icon = MessageIcon::Error;
};

class ConsoleHost : public MainWindowHost {
 public:
  // `fastWaits`: long sleeps and the restart wait pass at once (for tests of the
  // program against a simulated printer that restarts in a moment).
  ConsoleHost(std::ostream& err, bool errIsTerminal, bool fastWaits)
      : err_(err), terminal_(errIsTerminal), fastWaits_(fastWaits) {}

  // The model Set writes: the radio button the operator would have checked.
  void ChooseModel(std::uint8_t value) { modelValue_ = value; }

  std::int64_t ElapsedMilliseconds() override;
  void Sleep(int milliseconds) override;
  void PeekMessages() override {}
  void ProcessMessages() override;
  void ShowMessage(const char* text, const char* title, MessageIcon icon) override;
  void SetLabel2(const std::string&) override {}
  void SetProgress(int position) override;
  void SetControlEnabled(Control, bool) override {}
  bool IsRadioChecked(Control radio) override;
  void AddPortItem(const std::string&) override {}
  void SelectPortItem(int) override {}

  // A line of qxmodel's own on standard error ("qxmodel: ...").
  void Note(const std::string& text);

  const std::vector<ShownMessage>& Messages() const { return messages_; }
  // True when the last message shown is an information box (the exchange succeeded).
  bool Succeeded() const { return !messages_.empty() && messages_.back().Icon == MessageIcon::Information; }
  // Progress positions written, for tests.
  const std::vector<int>& ProgressShown() const { return progressShown_; }

 private:
  void EndProgressLine();

  std::ostream& err_;
  const bool terminal_;
  const bool fastWaits_;
  std::uint8_t modelValue_ = 0x00;
  std::int64_t skipped_ = 0;
  int lastProgress_ = -1;
  bool progressLineOpen_ = false;
  std::vector<ShownMessage> messages_;
  std::vector<int> progressShown_;
};

}  // namespace qx::cli
