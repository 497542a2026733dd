#include "port/device/pending_io.h"

#include <mutex>
#include <vector>

namespace qx {

namespace {

// Requests a driver never ended. They are never freed: their memory and event must
// stay valid for as long as the driver might complete them, which is the process.
struct Abandoned {
  std::mutex Lock;
  std::vector<std::unique_ptr<PendingIo>> Requests;
};

Abandoned& AbandonedList() {
  static auto* list = new Abandoned;  // never destroyed, on purpose (see above)
  return *list;
}

}  // namespace

PendingIo::PendingIo(SeamHandle event, std::uint32_t size)
    : event_(std::move(event)), buffer_(std::make_unique<std::uint8_t[]>(size > 0 ? size : 1)), size_(size) {
  Rearm();
}

std::unique_ptr<PendingIo> PendingIo::Make(DeviceCalls& calls, std::uint32_t size) {
  SeamHandle event(calls, calls.CreateEventA(true, false));
  if (!event.Valid()) return nullptr;
  return std::unique_ptr<PendingIo>(new PendingIo(std::move(event), size));
}

DeviceOverlapped& PendingIo::Rearm() {
  record_ = DeviceOverlapped{};
  record_.hEvent = event_.Get();
  return record_;
}

bool EnsureRequest(DeviceCalls& calls, std::unique_ptr<PendingIo>& request, std::uint32_t size) {
  if (request && request->Size() >= size) return true;
  request = PendingIo::Make(calls, size);
  return request != nullptr;
}

bool CancelWithin(DeviceCalls& calls, DeviceHandle device, std::unique_ptr<PendingIo>& request,
                  std::uint32_t limitMs, std::uint32_t& count) {
  count = 0;
  if (!request || !request->InFlight) return true;
  calls.CancelIo(device);
  const std::uint32_t start = calls.TickCount();
  for (;;) {
    std::uint32_t n = 0;
    const std::uint32_t error = calls.GetOverlappedResult(device, &request->Record(), n, false);
    if (error != win::ErrorIoIncomplete && error != win::ErrorIoPending) {
      request->InFlight = false;
      count = n;
      return true;
    }
    if (calls.TickCount() - start >= limitMs) break;
    calls.Sleep(1);
  }
  Abandoned& list = AbandonedList();
  std::lock_guard lock(list.Lock);
  list.Requests.push_back(std::move(request));
  return false;
}

int AbandonedRequests() {
  Abandoned& list = AbandonedList();
  std::lock_guard lock(list.Lock);
  return static_cast<int>(list.Requests.size());
}

}  // namespace qx
