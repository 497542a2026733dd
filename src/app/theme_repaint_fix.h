#pragma once

// With visual styles (Windows 6 and later) buttons and static texts of a form can be
// left half-drawn after a UI-state change (the keyboard cues the Alt key shows). The
// fix watches the form's WM_UPDATEUISTATE and repaints those children once the
// messages queued before it have been handled.

#include <windows.h>

#include "platform/os_version.h"

namespace qx {

class ThemeRepaintFix {
 public:
  // Posted to the form to repaint at the next idle moment.
  static constexpr UINT RepaintMessage = WM_APP + 0x3A1;

  ThemeRepaintFix(HWND form, int windowsMajorVersion = WindowsMajorVersion());
  ThemeRepaintFix(const ThemeRepaintFix&) = delete;
  ThemeRepaintFix& operator=(const ThemeRepaintFix&) = delete;

  // Called by the form's procedure for each message; true when the message was the
  // fix's own (then the form does nothing more with it).
  bool OnMessage(UINT message);

 private:
  HWND form_;
  bool themed_;
  bool pending_ = false;
};

}  // namespace qx
