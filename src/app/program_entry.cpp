// The program entry: one running instance, the application and main windows, the
// message loop.

#include <windows.h>

#include <exception>
#include <memory>

#include "addport/add_port_command.h"
#include "app/application_window.h"
#include "app/main_window.h"
#include "app/main_window_ids.h"
#include "port/service/service_library_win32.h"

namespace {

int Run(HINSTANCE instance) {
  HANDLE mutex = nullptr;
  // Kept for the whole run and never released: the system drops it with the process.
  if (!qx::ClaimSingleInstance(mutex)) return -1;

  qx::ApplicationWindow application(instance);
  auto main = std::make_unique<qx::MainWindow>(instance, application.Handle());
  application.SetMainWindow(main->Handle());
  // Created once, hidden, and reused for every Add Port.
  qx::CreateAddPortForm(main->Handle());
  main->Show();
  SetForegroundWindow(main->Handle());

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) qx::DispatchProgramMessage(message, main->Handle());

  std::exception_ptr failure = main->TakeFailure();
  // Every window first, then the exit steps (in the main window's destructor): a
  // second copy started meanwhile finds no window and ends.
  qx::DestroyAddPortForm();
  main->DestroyWindowNow();
  application.Destroy();
  main.reset();
  if (failure) std::rethrow_exception(failure);
  return 0;
}

void ShowFailure(const char* text) {
  MessageBoxA(nullptr, text, qx::ui::ApplicationTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  qx::KeepCurrentFolderOutOfLibrarySearch();
  try {
    return Run(instance);
  } catch (const std::exception& e) {
    ShowFailure(e.what());
  } catch (...) {
    ShowFailure("An unexpected error ended the program.");
  }
  return 0;
}
