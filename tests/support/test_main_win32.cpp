#include <windows.h>

#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// The test programs' entry under Wine. A process that returns from main leaves through
// ExitProcess, and Wine then runs the C library's exit handlers on the Linux side as
// well; now and then glibc's loader aborts there ("Inconsistency detected by ld.so:
// dl-fini.c") after every test has passed, and the run is counted as failed. The
// verdict is all a test program owes: print it, then end the process at once (Wine
// ends a process that terminates itself with _exit).
int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
