// close_timer EXE [RUNS]: how long the real utility takes, after a close is accepted, to
// take its windows off the screen and to end (its exit steps: ports, vendor services,
// spooler). Starts EXE RUNS times (default 3), posts WM_CLOSE to its main window once it
// is shown, and prints the medians as rows of scripts/bench's table.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui_driver.h"

namespace {

using qx::uitest::App;
using qx::uitest::Now;

std::int64_t Median(std::vector<std::int64_t> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: close_timer EXE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<std::int64_t> gone;
  std::vector<std::int64_t> ended;
  std::string failure;
  for (int run = 0; run < runs && failure.empty(); ++run) {
    App app;
    if (!app.Start(argv[1])) {
      failure = "the utility did not start";
      break;
    }
    HWND main = app.WaitMainWindow();
    HWND application = main != nullptr ? app.ApplicationWindow() : nullptr;
    if (application == nullptr) {
      failure = "no main window";
      break;
    }
    Sleep(1000);  // settled: nothing of the start still running
    const std::int64_t closed = Now();
    PostMessageA(main, WM_CLOSE, 0, 0);
    while ((IsWindowVisible(main) || IsWindowVisible(application)) && Now() - closed < 60000) Sleep(1);
    gone.push_back(Now() - closed);
    DWORD code = 0;
    if (!app.WaitExit(120000, code)) {
      failure = "the utility did not end";
      break;
    }
    ended.push_back(Now() - closed);
  }
  if (!failure.empty()) {
    std::printf("close accepted → window gone (ms)\t(not measured: %s)\t200 at most\n", failure.c_str());
    std::printf("close accepted → process ended (ms)\t(not measured: %s)\texit steps included\n", failure.c_str());
    return 1;
  }
  std::printf("close accepted → window gone (ms)\t%lld\t200 at most (median of %d)\n",
              static_cast<long long>(Median(gone)), runs);
  std::printf("close accepted → process ended (ms)\t%lld\tports, vendor services, spooler restarted (median of %d)\n",
              static_cast<long long>(Median(ended)), runs);
  return 0;
}
