// The test stand-in for the service's client library (see zemak_stand_in_control.h).

#include <atomic>
#include <cstdarg>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "port/service/port_service_api.h"
#include "sim/port_service/zemak_stand_in_control.h"

extern "C" {
ZEMAK_TEST_EXPORT int Open(const SvcChar* url, SvcHandle* handle);
ZEMAK_TEST_EXPORT int Close(SvcHandle handle);
ZEMAK_TEST_EXPORT int Lock(SvcHandle handle, uint32_t timeoutMs);
ZEMAK_TEST_EXPORT int Unlock(SvcHandle handle);
ZEMAK_TEST_EXPORT int SendReceive(SvcHandle handle, const void* data, uint32_t length, uint32_t* sent, uint32_t flags,
                                  uint32_t timeoutMs, void* receive, uint32_t receiveSize, uint32_t* received);
ZEMAK_TEST_EXPORT int Ioctl(SvcHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                            uint32_t outputSize, uint32_t* outputLength);
ZEMAK_TEST_EXPORT int RegisterCallback(SvcHandle handle, uint32_t event, SvcDataCallback callback, uintptr_t context);
// The vendor's library has it, but how it is called is not known: this one takes
// nothing and only writes the call to the log, where no test should find it.
ZEMAK_TEST_EXPORT void UnRegisterCallback(void);
}

// The definitions must match the shared header's entry point types exactly.
static_assert(std::is_same_v<decltype(&Open), SvcOpenFn>);
static_assert(std::is_same_v<decltype(&Close), SvcCloseFn>);
static_assert(std::is_same_v<decltype(&Lock), SvcLockFn>);
static_assert(std::is_same_v<decltype(&Unlock), SvcUnlockFn>);
static_assert(std::is_same_v<decltype(&SendReceive), SvcSendReceiveFn>);
static_assert(std::is_same_v<decltype(&Ioctl), SvcIoctlFn>);
static_assert(std::is_same_v<decltype(&RegisterCallback), SvcRegisterCallbackFn>);
static_assert(std::is_same_v<decltype(&UnRegisterCallback), SvcUnknownEntry>);

namespace {

using namespace std::chrono_literals;

// Distinct non-zero results, so that a log or a test can tell the failures apart.
enum Failure : int {
  NoSuchHandle = 1,
  BadUrl = 2,
  Refused = 3,
  LockRefused = 4,
  NoProperty = 5,
  ListFailed = 6,
  WrongConnection = 7,
  SendFailed = 8,
  NotTaken = 9,
  NoSuchEvent = 10,
  NoCallback = 11,
};

enum class Type { List, Port, Property };

struct Connection {
  Type Kind = Type::List;
  std::string PortName;
  void* Link = nullptr;
  bool Locked = false;
  SvcDataCallback Callback = nullptr;
  uintptr_t Context = 0;
  bool Delivering = false;
};

struct State {
  std::mutex Lock;
  std::condition_variable Changed;
  std::map<SvcHandle, Connection> Connections;
  SvcHandle NextHandle = 1;
  bool HasBackend = false;
  ZemakTestBackend Backend{};
  uint32_t Faults = 0;
  std::string PortList;
  std::map<std::pair<std::string, std::string>, std::string> Properties;
  std::vector<std::string> Calls;

  std::thread* Delivery = nullptr;
  bool StopDelivery = false;

  SvcDataCallback LastCallback = nullptr;
  SvcHandle LastCallbackHandle = 0;
  uintptr_t LastCallbackContext = 0;
  std::thread* Flood = nullptr;
  std::atomic<bool> StopFlood{false};
  std::atomic<uint64_t> FloodCalls{0};
  std::string FloodData;
};

// Never destroyed: a thread of the library may still run while the process ends.
State& S() {
  static State* state = new State;
  return *state;
}

std::string Narrow(const SvcChar* text) {
  std::string narrow;
  for (; text != nullptr && *text != 0; ++text) narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return narrow;
}

std::string Format(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

void Record(State& s, std::string line) { s.Calls.push_back(std::move(line)); }

// What a URL names; false for anything this library does not serve.
bool ParseUrl(const std::string& url, Type& type, std::string& portName) {
  std::string rest;
  if (url == "pipe://QX") {
    type = Type::List;
    return true;
  }
  if (url.rfind("pipe://QX/", 0) == 0) {
    rest = url.substr(10);
  } else if (url.rfind("tcp://", 0) == 0) {
    const std::size_t qx = url.find("/QX/", 6);
    if (qx == std::string::npos || qx == 6) return false;
    rest = url.substr(qx + 4);
    if (rest.empty()) {
      type = Type::List;
      return true;
    }
  } else {
    return false;
  }
  if (rest.empty()) return false;
  if (rest.back() == '/') {
    rest.pop_back();
    type = Type::Property;
  } else {
    type = Type::Port;
  }
  if (rest.empty() || rest.find('/') != std::string::npos) return false;
  portName = rest;
  return true;
}

bool IsDue(State& s, const Connection& c) {
  return s.HasBackend && c.Link != nullptr && s.Backend.MillisecondsUntilOutput(s.Backend.Context, c.Link) == 0;
}

void DeliveryLoop() {
  State& s = S();
  std::unique_lock lock(s.Lock);
  while (!s.StopDelivery) {
    bool delivered = false;
    for (auto& [handle, c] : s.Connections) {
      if (c.Callback == nullptr || !IsDue(s, c)) continue;
      // Close waits while this is set, so the entry stays.
      c.Delivering = true;
      const SvcDataCallback callback = c.Callback;
      const uintptr_t context = c.Context;
      void* link = c.Link;
      const ZemakTestBackend backend = s.Backend;
      lock.unlock();
      char buffer[4096];
      const uint32_t n = backend.Read(backend.Context, link, buffer, sizeof buffer);
      if (n > 0) callback(handle, context, buffer, n);
      lock.lock();
      c.Delivering = false;
      delivered = true;
      s.Changed.notify_all();
    }
    if (!delivered) s.Changed.wait_for(lock, 1ms);
  }
}

void StartDelivery(State& s) {
  if (s.Delivery != nullptr) return;
  s.StopDelivery = false;
  s.Delivery = new std::thread(DeliveryLoop);
}

// Called with the lock held; gives the thread back to join after unlocking.
std::thread* TakeDelivery(State& s) {
  std::thread* thread = s.Delivery;
  if (thread == nullptr || thread->get_id() == std::this_thread::get_id()) return nullptr;
  s.StopDelivery = true;
  s.Delivery = nullptr;
  s.Changed.notify_all();
  return thread;
}

void Join(std::thread* thread) {
  if (thread == nullptr) return;
  thread->join();
  delete thread;
}

// Waits until no callback of this connection runs; bounded, as a stuck callback must
// not hang the test run.
void WaitNotDelivering(State& s, std::unique_lock<std::mutex>& lock, SvcHandle handle) {
  s.Changed.wait_for(lock, 5s, [&] {
    auto it = s.Connections.find(handle);
    return it == s.Connections.end() || !it->second.Delivering;
  });
}

void StopFloodThread(State& s) {
  std::thread* flood = nullptr;
  {
    std::lock_guard lock(s.Lock);
    flood = std::exchange(s.Flood, nullptr);
  }
  s.StopFlood = true;
  Join(flood);
}

std::string HexBytes(const void* data, uint32_t length) {
  std::string text;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (uint32_t i = 0; i < length; ++i) text += Format(i == 0 ? "%02X" : " %02X", bytes[i]);
  return text;
}

std::string WideInput(const void* input, uint32_t length) {
  std::string text;
  const auto* bytes = static_cast<const unsigned char*>(input);
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    const unsigned unit = bytes[i] | (bytes[i + 1] << 8);
    if (unit == 0) break;
    text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return text;
}

}  // namespace

extern "C" {

int Open(const SvcChar* url, SvcHandle* handle) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  const std::string text = Narrow(url);
  Type type = Type::List;
  std::string portName;
  int result = 0;
  if (handle == nullptr || !ParseUrl(text, type, portName)) {
    result = BadUrl;
  } else if (s.Faults & ZEMAK_TEST_REFUSE_OPEN) {
    result = Refused;
  }
  Connection c;
  c.Kind = type;
  c.PortName = portName;
  if (result == 0 && type == Type::Port && s.HasBackend) {
    c.Link = s.Backend.OpenLink(s.Backend.Context, portName.c_str());
    if (c.Link == nullptr) result = Refused;
  }
  if (result != 0) {
    Record(s, Format("Open %s -> refused", text.c_str()));
    return result;
  }
  const SvcHandle h = s.NextHandle++;
  s.Connections[h] = c;
  *handle = h;
  Record(s, Format("Open %s -> %u", text.c_str(), h));
  return 0;
}

int Close(SvcHandle handle) {
  State& s = S();
  std::thread* stopped = nullptr;
  {
    std::unique_lock lock(s.Lock);
    Record(s, Format("Close %u", handle));
    WaitNotDelivering(s, lock, handle);
    auto it = s.Connections.find(handle);
    if (it == s.Connections.end()) return NoSuchHandle;
    if (it->second.Link != nullptr && s.HasBackend) s.Backend.CloseLink(s.Backend.Context, it->second.Link);
    s.Connections.erase(it);
    if (s.Connections.empty()) stopped = TakeDelivery(s);
  }
  Join(stopped);
  return 0;
}

int Lock(SvcHandle handle, uint32_t timeoutMs) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  Record(s, Format("Lock %u %u", handle, timeoutMs));
  auto it = s.Connections.find(handle);
  if (it == s.Connections.end()) return NoSuchHandle;
  if (it->second.Kind != Type::Port) return WrongConnection;
  if (s.Faults & ZEMAK_TEST_REFUSE_LOCK) return LockRefused;
  // One client at a time holds a port.
  for (const auto& [other, c] : s.Connections) {
    if (other != handle && c.Kind == Type::Port && c.Locked && c.PortName == it->second.PortName) return LockRefused;
  }
  it->second.Locked = true;
  return 0;
}

int Unlock(SvcHandle handle) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  Record(s, Format("Unlock %u", handle));
  auto it = s.Connections.find(handle);
  if (it == s.Connections.end()) return NoSuchHandle;
  it->second.Locked = false;
  return 0;
}

int SendReceive(SvcHandle handle, const void* data, uint32_t length, uint32_t* sent, uint32_t flags,
                uint32_t timeoutMs, void*, uint32_t receiveSize, uint32_t* received) {
  State& s = S();
  std::unique_lock lock(s.Lock);
  Record(s, Format("SendReceive %u %u flags=%u timeout=%u receive=%u", handle, length, flags, timeoutMs, receiveSize));
  if (received != nullptr) *received = 0;
  auto it = s.Connections.find(handle);
  if (it == s.Connections.end()) return NoSuchHandle;
  if (it->second.Kind != Type::Port) return WrongConnection;
  if (s.Faults & ZEMAK_TEST_FAIL_SEND) {
    if (sent != nullptr) *sent = length / 2;
    return SendFailed;
  }
  if (s.Faults & ZEMAK_TEST_OVERCOUNT_SEND) {
    if (sent != nullptr) *sent = length + 100;
    return 0;
  }
  void* link = it->second.Link;
  const ZemakTestBackend backend = s.Backend;
  const bool hasBackend = s.HasBackend && link != nullptr;
  // The port is written without the lock, as the delivery thread reads it.
  lock.unlock();
  const bool taken = !hasBackend || backend.Write(backend.Context, link, data, length) == 1;
  if (sent != nullptr) *sent = taken ? length : 0;
  s.Changed.notify_all();
  return taken ? 0 : NotTaken;
}

int Ioctl(SvcHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
          uint32_t outputSize, uint32_t* outputLength) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  if (outputLength != nullptr) *outputLength = 0;
  auto it = s.Connections.find(handle);
  switch (code) {
    case SVC_IOCTL_OPEN_OPTION:
      Record(s, Format("Ioctl %u OPEN_OPTION %s out=%u", handle, HexBytes(input, input ? inputLength : 0).c_str(),
                       outputSize));
      if (it == s.Connections.end()) return NoSuchHandle;
      return it->second.Kind == Type::Port ? 0 : WrongConnection;
    case SVC_IOCTL_LIST_PORTS: {
      Record(s, Format("Ioctl %u LIST_PORTS in=%u out=%u", handle, inputLength, outputSize));
      if (it == s.Connections.end()) return NoSuchHandle;
      if (it->second.Kind != Type::List || output == nullptr) return WrongConnection;
      if (s.Faults & ZEMAK_TEST_FAIL_LIST) return ListFailed;
      const uint32_t n = static_cast<uint32_t>(s.PortList.size()) < outputSize
                             ? static_cast<uint32_t>(s.PortList.size())
                             : outputSize;
      std::memcpy(output, s.PortList.data(), n);
      if (outputLength != nullptr) *outputLength = n;
      return 0;
    }
    case SVC_IOCTL_GET_PROPERTY: {
      const std::string name = input ? WideInput(input, inputLength) : std::string();
      Record(s, Format("Ioctl %u GET_PROPERTY %s in=%u out=%u", handle, name.c_str(), inputLength, outputSize));
      if (it == s.Connections.end()) return NoSuchHandle;
      if (it->second.Kind != Type::Property || output == nullptr) return WrongConnection;
      auto property = s.Properties.find({it->second.PortName, name});
      if (property == s.Properties.end()) return NoProperty;
      auto* bytes = static_cast<unsigned char*>(output);
      uint32_t n = 0;
      const std::string& value = property->second;
      for (std::size_t i = 0; i <= value.size() && n + 2 <= outputSize; ++i) {
        const unsigned char c = i < value.size() ? static_cast<unsigned char>(value[i]) : 0;
        bytes[n++] = c;
        bytes[n++] = 0;
      }
      if (outputLength != nullptr) *outputLength = n;
      return 0;
    }
    default:
      Record(s, Format("Ioctl %u 0x%X in=%u out=%u", handle, code, inputLength, outputSize));
      return WrongConnection;
  }
}

int RegisterCallback(SvcHandle handle, uint32_t event, SvcDataCallback callback, uintptr_t context) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  Record(s, Format("RegisterCallback %u 0x%X context=%llu", handle, event, static_cast<unsigned long long>(context)));
  auto it = s.Connections.find(handle);
  if (it == s.Connections.end()) return NoSuchHandle;
  if (event != SVC_EVENT_DATA) return NoSuchEvent;
  it->second.Callback = callback;
  it->second.Context = context;
  s.LastCallback = callback;
  s.LastCallbackHandle = handle;
  s.LastCallbackContext = context;
  StartDelivery(s);
  return 0;
}

void UnRegisterCallback(void) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  Record(s, "UnRegisterCallback");
}

void ZemakTestReset(void) {
  State& s = S();
  StopFloodThread(s);
  std::thread* stopped = nullptr;
  {
    std::lock_guard lock(s.Lock);
    stopped = TakeDelivery(s);
  }
  Join(stopped);
  std::lock_guard lock(s.Lock);
  for (auto& [handle, c] : s.Connections) {
    if (c.Link != nullptr && s.HasBackend) s.Backend.CloseLink(s.Backend.Context, c.Link);
  }
  s.Connections.clear();
  s.NextHandle = 1;
  s.HasBackend = false;
  s.Backend = {};
  s.Faults = 0;
  s.PortList.clear();
  s.Properties.clear();
  s.Calls.clear();
  s.LastCallback = nullptr;
  s.LastCallbackHandle = 0;
  s.LastCallbackContext = 0;
  s.FloodCalls = 0;
}

void ZemakTestSetBackend(const ZemakTestBackend* backend) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  s.HasBackend = backend != nullptr;
  s.Backend = backend != nullptr ? *backend : ZemakTestBackend{};
}

void ZemakTestSetFaults(uint32_t faults) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  s.Faults = faults;
}

void ZemakTestSetPortList(const void* answer, uint32_t size) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  s.PortList.assign(static_cast<const char*>(answer), size);
}

void ZemakTestSetProperty(const char* portName, const char* property, const char* value) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  s.Properties[{portName, property}] = value;
}

uint32_t ZemakTestCallLog(char* buffer, uint32_t size) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  std::string text;
  for (const std::string& line : s.Calls) text += line + "\n";
  if (buffer != nullptr && size > 0) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<uint32_t>(text.size());
}

void ZemakTestClearCallLog(void) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  s.Calls.clear();
}

uint32_t ZemakTestOpenConnections(void) {
  State& s = S();
  std::lock_guard lock(s.Lock);
  return static_cast<uint32_t>(s.Connections.size());
}

int ZemakTestWaitIdle(uint32_t timeoutMs) {
  State& s = S();
  std::unique_lock lock(s.Lock);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    bool idle = true;
    for (const auto& [handle, c] : s.Connections) {
      if (c.Callback != nullptr && (c.Delivering || IsDue(s, c))) idle = false;
    }
    if (idle) return 1;
    if (std::chrono::steady_clock::now() >= end) return 0;
    s.Changed.notify_all();
    s.Changed.wait_for(lock, 1ms);
  }
}

void ZemakTestStartFlood(const void* data, uint32_t length) {
  State& s = S();
  StopFloodThread(s);
  std::lock_guard lock(s.Lock);
  s.FloodData.assign(static_cast<const char*>(data), length);
  s.StopFlood = false;
  s.Flood = new std::thread([&s] {
    SvcDataCallback callback = nullptr;
    SvcHandle handle = 0;
    uintptr_t context = 0;
    std::string data;
    {
      std::lock_guard lock(s.Lock);
      data = s.FloodData;
    }
    while (!s.StopFlood) {
      {
        std::lock_guard lock(s.Lock);
        callback = s.LastCallback;
        handle = s.LastCallbackHandle;
        context = s.LastCallbackContext;
      }
      if (callback == nullptr) {
        std::this_thread::sleep_for(1ms);
        continue;
      }
      // Not under the library's lock, and regardless of the connection's state: a
      // library that keeps calling after the connection was closed.
      callback(handle, context, data.data(), static_cast<uint32_t>(data.size()));
      ++s.FloodCalls;
      std::this_thread::yield();
    }
  });
}

void ZemakTestStopFlood(void) { StopFloodThread(S()); }

uint64_t ZemakTestFloodCalls(void) { return S().FloodCalls.load(); }

int ZemakTestDeliver(SvcHandle handle, const void* data, uint32_t length) {
  SvcDataCallback callback = nullptr;
  uintptr_t context = 0;
  {
    State& s = S();
    std::lock_guard lock(s.Lock);
    callback = s.LastCallback;
    context = s.LastCallbackContext;
  }
  if (callback == nullptr) return NoCallback;
  callback(handle, context, data, length);
  return 0;
}

}  // extern "C"
