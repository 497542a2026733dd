#pragma once

#ifdef _WIN32
#include <windows.h>

#include "platform/time.h"

namespace qx {

// Cancels one overlapped operation and waits for it to finish, so that its buffer
// and record may be reused or freed. Drivers complete a cancelled request promptly.
inline DWORD CancelAndWait(HANDLE device, OVERLAPPED& overlapped) {
  CancelIoEx(device, &overlapped);
  DWORD count = 0;
  GetOverlappedResult(device, &overlapped, &count, TRUE);
  return count;
}

// A fresh overlapped record on `event` (cleared), at offset 0.
inline OVERLAPPED OverlappedOn(HANDLE event) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  if (event) ResetEvent(event);
  return overlapped;
}

// Polls a pending operation without waiting, 1 ms apart, as the send and receive
// workers do. Returns false when `stopping` said so (the operation is then cancelled
// and finished); otherwise `count` holds the bytes moved, also when the operation
// ended with an error.
template <class Stopping>
bool PollPending(HANDLE device, OVERLAPPED& overlapped, DWORD& count, Stopping stopping) {
  for (;;) {
    count = 0;
    if (GetOverlappedResult(device, &overlapped, &count, FALSE)) return true;
    if (GetLastError() != ERROR_IO_INCOMPLETE) return true;
    if (stopping()) {
      count = CancelAndWait(device, overlapped);
      return false;
    }
    SleepMilliseconds(1);
  }
}

}  // namespace qx
#endif
