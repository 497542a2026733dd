#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstring>
#include <memory>

#include "platform/time.h"
#include "port/device/pending_io.h"

namespace qx {

// A request of the serial and parallel kinds, on the kernel32 binding of the device seam.
inline std::unique_ptr<PendingIo> MakeRequest(std::uint32_t size) { return PendingIo::Make(Kernel32DeviceCalls(), size); }

// Cancels the request in flight on `request` and waits for it at most CancelLimitMs;
// the bytes it moved (0 when the driver kept it and it was given up).
inline DWORD CancelBounded(HANDLE device, std::unique_ptr<PendingIo>& request,
                           DeviceCalls& calls = Kernel32DeviceCalls()) {
  std::uint32_t count = 0;
  CancelWithin(calls, device, request, CancelLimitMs, count);
  return count;
}

// Starts an overlapped write of `length` bytes, copied into the request's own buffer,
// through `calls` (kernel32 unless a test binds another). ERROR_SUCCESS when it
// completed at once, else the error (ERROR_IO_PENDING: in flight).
inline DWORD StartWrite(HANDLE device, PendingIo& request, const char* data, int length, DWORD& count,
                        DeviceCalls& calls = Kernel32DeviceCalls()) {
  std::memcpy(request.Buffer(), data, static_cast<std::size_t>(length));
  std::uint32_t n = 0;
  const DWORD error = calls.WriteFile(device, request.Buffer(), static_cast<DWORD>(length), n, &request.Rearm());
  count = n;
  return error;
}

// Polls the pending operation on `request` without waiting, 1 ms apart, as the send
// and receive workers do. Returns false when `stopping` said so (the operation is then
// cancelled, and given up if the driver keeps it); otherwise `count` holds the bytes
// moved, also when the operation ended with an error.
template <class Stopping>
bool PollPending(HANDLE device, std::unique_ptr<PendingIo>& request, DWORD& count, Stopping stopping,
                 DeviceCalls& calls = Kernel32DeviceCalls()) {
  request->InFlight = true;
  for (;;) {
    std::uint32_t n = 0;
    const std::uint32_t error = calls.GetOverlappedResult(device, &request->Record(), n, false);
    count = n;
    if (error != ERROR_IO_INCOMPLETE) {
      request->InFlight = false;
      return true;
    }
    if (stopping()) {
      count = CancelBounded(device, request, calls);
      return false;
    }
    SleepMilliseconds(1);
  }
}

}  // namespace qx
#endif
