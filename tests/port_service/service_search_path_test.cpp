// Where the port-service kind may find its client library: this program runs from a
// folder without "ZemakPH.dll", with the current folder set to the one that holds the
// test library. Once the current folder is out of the search, neither this program nor
// qxmodel loads the library from there.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "port/service/service_library_win32.h"

namespace qx {
namespace {

TEST(ServiceLibrarySearch, TheCurrentFolderIsNotSearched) {
  HMODULE planted = LoadLibraryW(L"ZemakPH.dll");
  ASSERT_NE(planted, nullptr) << "the test library is not in the current folder";
  FreeLibrary(planted);

  KeepCurrentFolderOutOfLibrarySearch();
  EXPECT_EQ(LoadServiceLibrary(), nullptr);
  // The system folder still is.
  HMODULE system = LoadLibraryW(L"version.dll");
  EXPECT_NE(system, nullptr);
  if (system != nullptr) FreeLibrary(system);
}

TEST(ServiceLibrarySearch, QxmodelLeavesTheCurrentFolderOut) {
  // Through the test library (no printer behind it) Get would fail for want of a
  // reply; without a library the port does not open.
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string errPath = std::string(folder) + "\\search_path_err_" + std::to_string(GetCurrentProcessId());
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = err;
  startup.hStdError = err;
  std::string program = QXMODEL_EXE;  // a Unix path: Wine's drive Z: is the root
  for (char& c : program) {
    if (c == '/') c = '\\';
  }
  std::string command = "\"Z:" + program + "\" get service:1";
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder, &startup, &process);
  CloseHandle(err);
  ASSERT_TRUE(started) << GetLastError();
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 2);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0);

  std::ifstream file(errPath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  file.close();
  DeleteFileA(errPath.c_str());
  EXPECT_EQ(exitCode, 1u);
  EXPECT_NE(text.str().find("This utility can't open communication port."), std::string::npos) << text.str();
}

}  // namespace
}  // namespace qx
