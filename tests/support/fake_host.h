#pragma once

// A main window without a window: a fake millisecond clock that only sleeps move, and a
// timeline of what the logic did to the window.

#include <functional>
#include <string>
#include <vector>

#include "app/main_window_host.h"

namespace qx::test {

// The line ShowMessage records for the box an exchange ends with: its three successes
// with the information title and icon, every other text as an error.
inline std::string BoxLine(const std::string& text) {
  const bool error = text != MessageGetSucceeded && text != MessageSetSucceeded && text != MessagePrintSucceeded;
  return std::string("box ") + (error ? TitleError : TitleInformation) +
         (error ? " (error icon): " : " (information icon): ") + text;
}

class FakeHost : public MainWindowHost {
 public:
  std::int64_t now = 0;
  // Clock reads that pass without a sleep still move time by this much (a real clock
  // would), so that loops without a pause end.
  int msPerClockRead = 0;
  std::vector<std::string> events;
  std::string label2;
  int progress = 0;
  std::vector<int> progressSeen;
  bool enabled[ControlCount] = {};
  bool checked[ControlCount] = {};
  std::vector<std::string> items;
  int selected = -1;
  std::function<void()> onPeek;
  std::function<void()> onProcessMessages;
  long long sleptMs = 0;
  // The exchange's fine sleeps: whether on now, and the slips of the rule that they are
  // on for every short sleep and off for every box.
  bool fineSleeps = false;
  int shortSleepsWithoutFineSleeps = 0;
  int boxesWithFineSleeps = 0;
  // The controls' states when the last box was shown.
  std::vector<bool> enabledAtLastBox;

  // Told of every move of the clock (a simulated printer shares this time).
  std::function<void(std::int64_t now)> onTime;

  std::int64_t ElapsedMilliseconds() override {
    Move(msPerClockRead);
    return now;
  }
  void Sleep(int ms) override {
    if (ms < 1000 && !fineSleeps) ++shortSleepsWithoutFineSleeps;
    Move(ms);
    sleptMs += ms;
    if (ms >= 1000) events.push_back("sleep " + std::to_string(ms));
  }
  void PeekMessages() override {
    if (onPeek) onPeek();
  }
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
  }
  void ShowMessage(const char* text, const char* title, MessageIcon icon) override {
    if (fineSleeps) ++boxesWithFineSleeps;
    enabledAtLastBox.assign(std::begin(enabled), std::end(enabled));
    const bool errorIcon = icon == MessageIcon::Error;
    events.push_back(std::string("box ") + title + (errorIcon ? " (error icon): " : " (information icon): ") + text);
  }
  void SetFineSleeps(bool on) override { fineSleeps = on; }
  void SetLabel2(const std::string& text) override { label2 = text; }
  void SetProgress(int position) override {
    progress = position;
    if (progressSeen.empty() || progressSeen.back() != position) progressSeen.push_back(position);
  }
  void SetControlEnabled(Control control, bool on) override { enabled[static_cast<int>(control)] = on; }
  bool IsRadioChecked(Control radio) override { return checked[static_cast<int>(radio)]; }
  void AddPortItem(const std::string& name) override { items.push_back(name); }
  void SelectPortItem(int index) override { selected = index; }

  void Move(std::int64_t ms) {
    now += ms;
    if (ms != 0 && onTime) onTime(now);
  }

  // Messages shown, in order.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const auto& e : events) {
      if (e.rfind("box ", 0) == 0) boxes.push_back(e);
    }
    return boxes;
  }
};

}  // namespace qx::test
