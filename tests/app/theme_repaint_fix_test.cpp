#include "app/theme_repaint_fix.h"

#include <gtest/gtest.h>

#include <memory>

namespace qx {
namespace {

// A form whose procedure hands every message to the fix first, as the main window does.
class FixedForm {
 public:
  explicit FixedForm(int windowsMajorVersion) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ThemeRepaintFixTestForm";
    RegisterClassA(&windowClass);  // a second form finds the class registered
    form = CreateWindowExA(0, "ThemeRepaintFixTestForm", "form", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
    fix = std::make_unique<ThemeRepaintFix>(form, windowsMajorVersion);
    SetWindowLongPtrA(form, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fix.get()));
    button = Child("Button", 10);
    text = Child("Static", 50);
    edit = Child("Edit", 90);
    ShowWindow(form, SW_SHOWNOACTIVATE);
    UpdateWindow(form);
  }
  ~FixedForm() {
    SetWindowLongPtrA(form, GWLP_USERDATA, 0);
    DestroyWindow(form);
  }

  void ValidateChildren() {
    for (HWND child : {button, text, edit}) ValidateRect(child, nullptr);
  }
  // Handles the repaint requests waiting for the form; how many there were.
  int HandleRepaintRequests() {
    int count = 0;
    MSG message;
    while (count < 10 && PeekMessageA(&message, form, ThemeRepaintFix::RepaintMessage,
                                      ThemeRepaintFix::RepaintMessage, PM_REMOVE)) {
      DispatchMessageA(&message);
      ++count;
    }
    return count;
  }
  static bool NeedsPaint(HWND window) { return GetUpdateRect(window, nullptr, FALSE) != FALSE; }

  HWND form = nullptr;
  HWND button = nullptr;
  HWND text = nullptr;
  HWND edit = nullptr;
  std::unique_ptr<ThemeRepaintFix> fix;

 private:
  HWND Child(const char* windowClass, int y) {
    return CreateWindowExA(0, windowClass, "x", WS_CHILD | WS_VISIBLE, 10, y, 100, 30, form, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* fix = reinterpret_cast<ThemeRepaintFix*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (fix != nullptr && fix->OnMessage(message)) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
  }
};

void ChangeUiState(HWND form) {
  SendMessageA(form, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
}

TEST(ThemeRepaintFixTest, ThemedFormRepaintsButtonsAndTextsOnceAfterABurstOfStateChanges) {
  FixedForm form(6);
  ChangeUiState(form.form);
  ChangeUiState(form.form);
  // Whatever the system repainted by itself does not count.
  form.ValidateChildren();
  EXPECT_EQ(form.HandleRepaintRequests(), 1);
  EXPECT_TRUE(FixedForm::NeedsPaint(form.button));
  EXPECT_TRUE(FixedForm::NeedsPaint(form.text));
  EXPECT_FALSE(FixedForm::NeedsPaint(form.edit));

  // The next change is noticed again.
  form.ValidateChildren();
  ChangeUiState(form.form);
  EXPECT_EQ(form.HandleRepaintRequests(), 1);
}

TEST(ThemeRepaintFixTest, UnthemedSystemsAreLeftAlone) {
  FixedForm form(5);
  ChangeUiState(form.form);
  form.ValidateChildren();
  EXPECT_EQ(form.HandleRepaintRequests(), 0);
  EXPECT_FALSE(FixedForm::NeedsPaint(form.button));
}

}  // namespace
}  // namespace qx
