#include "app/theme_repaint_fix.h"

namespace qx {

namespace {

BOOL CALLBACK RepaintIfButtonOrText(HWND child, LPARAM) {
  char name[16] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Button") == 0 || lstrcmpiA(name, "Static") == 0) InvalidateRect(child, nullptr, TRUE);
  return TRUE;
}

}  // namespace

ThemeRepaintFix::ThemeRepaintFix(HWND form, int windowsMajorVersion)
    : form_(form), themed_(windowsMajorVersion >= 6) {}

bool ThemeRepaintFix::OnMessage(UINT message) {
  if (message == WM_UPDATEUISTATE) {
    // One repaint for a burst of state changes.
    if (themed_ && !pending_ && PostMessageA(form_, RepaintMessage, 0, 0)) pending_ = true;
    return false;
  }
  if (message != RepaintMessage) return false;
  pending_ = false;
  EnumChildWindows(form_, RepaintIfButtonOrText, 0);
  return true;
}

}  // namespace qx
