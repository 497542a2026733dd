#pragma once

#include <cstdint>
#include <memory>

#include "port/device/device_calls.h"

namespace qx {

// One overlapped request together with everything the driver may still touch while it
// is in flight: its record, its event and its buffer. Reads land in Buffer, never in a
// caller's memory, so that a request the driver keeps can be given up safely.
class PendingIo {
 public:
  // A request with a manual-reset event of `calls` and a buffer of `size` bytes; null
  // when the event cannot be made.
  static std::unique_ptr<PendingIo> Make(DeviceCalls& calls, std::uint32_t size);

  // The record, cleared and on the request's own event, for the next operation.
  DeviceOverlapped& Rearm();
  DeviceOverlapped& Record() { return record_; }
  std::uint8_t* Buffer() { return buffer_.get(); }
  std::uint32_t Size() const { return size_; }
  // Set while the driver holds the request.
  bool InFlight = false;

 private:
  PendingIo(SeamHandle event, std::uint32_t size);

  SeamHandle event_;
  DeviceOverlapped record_{};
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint32_t size_;
};

// Makes sure `request` (which must not be in flight) holds `size` bytes or more: a
// request too small, or none (the last one was given up), is replaced. False when no
// event could be made.
bool EnsureRequest(DeviceCalls& calls, std::unique_ptr<PendingIo>& request, std::uint32_t size);

// How long a stop path waits for a driver to end a cancelled request.
inline constexpr std::uint32_t CancelLimitMs = 2000;

// Cancels the request in flight on `request` (CancelIo: every operation this thread
// started on the handle) and polls its result for at most `limitMs` on the seam's
// clock. True when it ended; `count` then holds the bytes it moved. False when the
// driver kept it: the request is then given up for good (kept alive for the rest of
// the process, since the driver may still write into it), `request` is null and
// `count` 0. No request in flight: true at once with a count of 0.
bool CancelWithin(DeviceCalls& calls, DeviceHandle device, std::unique_ptr<PendingIo>& request,
                  std::uint32_t limitMs, std::uint32_t& count);

// Requests given up so far in this process.
int AbandonedRequests();

}  // namespace qx
