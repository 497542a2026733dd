#include "cli/console_host.h"

#include "platform/time.h"

namespace qx::cli {

namespace {
// The window's wait repaints every millisecond; a console has nothing to repaint, so
// with fast waits each pass moves the clock on by this much.
constexpr int FastWaitStepMs = 250;
}  // namespace

std::int64_t ConsoleHost::ElapsedMilliseconds() { return SteadyMilliseconds() + skipped_; }

void ConsoleHost::Sleep(int milliseconds) {
  // The per-byte polls stay real so that bytes have time to arrive.
  if (fastWaits_ && milliseconds > 10) {
    skipped_ += milliseconds;
    return;
  }
  SleepMilliseconds(milliseconds);
}

void ConsoleHost::ProcessMessages() {
  if (fastWaits_) skipped_ += FastWaitStepMs;
}

void ConsoleHost::ShowMessage(const char* text, const char* title, MessageIcon icon) {
  EndProgressLine();
  messages_.push_back({title, text, icon});
  err_ << title << ": " << text << '\n';
  err_.flush();
}

void ConsoleHost::Note(const std::string& text) {
  EndProgressLine();
  err_ << "qxmodel: " << text << '\n';
  err_.flush();
}

void ConsoleHost::SetProgress(int position) {
  if (position == lastProgress_) return;
  lastProgress_ = position;
  progressShown_.push_back(position);
  if (!terminal_) return;
  // Set resets the bar to 0 before the exchange starts; the line opens with the wait.
  if (position == 0 && !progressLineOpen_) return;
  err_ << "\rWaiting for the printer to restart: " << position << "%";
  err_.flush();
  progressLineOpen_ = true;
  if (position >= 100) EndProgressLine();
}

void ConsoleHost::EndProgressLine() {
  if (!progressLineOpen_) return;
  err_ << '\n';
  err_.flush();
  progressLineOpen_ = false;
}

bool ConsoleHost::IsRadioChecked(Control radio) {
  switch (radio) {
    case Control::K40IVRadioButton:  // caption "QX-K40V"
      return modelValue_ == 0x02;
    case Control::K40VRadioButton:  // caption "QX-K40VI"
      return modelValue_ == 0x03;
    case Control::K40VIRadioButton:  // caption "QX-K40VII"
      return modelValue_ == 0x00;
    default:
      return false;
  }
}

}  // namespace qx::cli
