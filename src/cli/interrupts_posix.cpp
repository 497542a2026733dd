#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/interrupts.h"

namespace qx::cli {

namespace {

// Signals reach the process, not a run: the watched run and its waiting thread are
// kept here, for the process, while the watch lasts.
std::mutex watchMutex;
InterruptTarget* watched = nullptr;
std::thread waiter;
sigset_t previousMask;

// SIGUSR2 only ends the waiting thread when the watch ends.
sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR2);
  return set;
}

void Wait() {
  const sigset_t set = Watched();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0 || signal == SIGUSR2) return;
    std::lock_guard<std::mutex> lock(watchMutex);
    if (watched == nullptr) return;
    const int code = watched->Interrupt(signal == SIGINT ? "SIGINT" : "SIGTERM");
    if (code < 0) continue;  // the run has reported and ends by itself
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    // The main thread may be inside an exchange: nothing of it is to run on.
    _exit(code);
  }
}

}  // namespace

void WatchInterrupts(InterruptTarget* target) {
  if (target != nullptr) {
    {
      std::lock_guard<std::mutex> lock(watchMutex);
      if (watched != nullptr) {
        watched = target;
        return;
      }
      watched = target;
    }
    // Blocked here, before the run makes its threads, so that they inherit the block
    // and only the waiting thread takes these signals.
    const sigset_t set = Watched();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask);
    waiter = std::thread(Wait);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    if (watched == nullptr) return;
    watched = nullptr;
  }
  pthread_kill(waiter.native_handle(), SIGUSR2);
  waiter.join();
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

}  // namespace qx::cli
