#include "port/service/service_port.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>

namespace qx {

namespace {

// The port that receives the service's data callbacks while it has a connection open,
// and the lock that every callback holds while it reaches that port.
std::mutex& ReceiverLock() {
  static std::mutex lock;
  return lock;
}
TQXPH* receiver = nullptr;

const SvcChar* Url(const WideText& text) { return text.c_str(); }

}  // namespace

TQXPH::TQXPH(int portId, std::unique_ptr<ServiceLibrary> library)
    : TWorkerlessPort(portId, KindPortService), library_(std::move(library)) {
  if (library_) entry_ = library_->Entries();
}

TQXPH::~TQXPH() {
  Close();
  Detach();  // also when Close could not reach the library
  entry_ = {};
  library_.reset();
}

void TQXPH::Attach() {
  std::lock_guard lock(ReceiverLock());
  receiver = this;
}

void TQXPH::Detach() {
  std::lock_guard lock(ReceiverLock());
  if (receiver == this) receiver = nullptr;
}

// The library's first two values are not relied on: what they mean is the library's
// own. Data that arrive while no connection is open (a closed connection still
// delivering) are dropped.
void TQXPH::OnServiceData(SvcHandle, std::uintptr_t, const void* data, std::uint32_t length) {
  std::lock_guard lock(ReceiverLock());
  if (receiver != nullptr) receiver->Deliver(data, length);
}

void TQXPH::Deliver(const void* data, std::uint32_t length) {
  if (data == nullptr || length == 0 || length > static_cast<std::uint32_t>(INT_MAX)) return;
  {
    std::lock_guard lock(receive_.Lock);
    receive_.Queue.Append(0, static_cast<const char*>(data), static_cast<int>(length));
  }
  NotifyDataArrived();
}

int TQXPH::Configure(const PortSettings* settings) {
  if (settings == nullptr || entry_.Open == nullptr || entry_.Lock == nullptr) return 0;
  PortNumber = settings->PortNumber;
  WriteTimeoutMultiplier = settings->WriteTimeoutMultiplier;
  WriteTimeoutConstant = settings->WriteTimeoutConstant;
  const bool remote = IsRemoteAddress(settings->IpAddress);
  RemoteMode = remote ? 1 : 0;
  if (remote) RemoteAddressText = AddressText(settings->IpAddress);

  if (settings->SyncMode == 1) {
    ServicePortName = GeneratedPortName(PortNumber);
    return 1;
  }

  SvcHandle list = 0;
  if (entry_.Open(Url(PortListUrl(remote, RemoteAddressText)), &list) != 0) return 1;
  unsigned char answer[ServiceAnswerBytes] = {};
  if (QueryPortList(list, answer)) {
    if (auto name = PortListEntry(answer, sizeof answer, PortNumber)) ServicePortName = *name;
  }
  if (entry_.Close != nullptr) entry_.Close(list);
  return 1;
}

bool TQXPH::QueryPortList(SvcHandle list, unsigned char (&answer)[ServiceAnswerBytes]) {
  // The answer area starts zeroed: whatever the service leaves untouched reads as the
  // end of the list.
  std::fill(std::begin(answer), std::end(answer), 0);
  unsigned char input[ListInputBytes] = {};
  std::uint32_t answered = 0;
  return entry_.Ioctl != nullptr &&
         entry_.Ioctl(list, SVC_IOCTL_LIST_PORTS, input, 0, answer, ServiceAnswerBytes, &answered) == 0;
}

std::vector<WideText> TQXPH::ListPorts(SvcHandle list) {
  unsigned char answer[ServiceAnswerBytes];
  if (!QueryPortList(list, answer)) return {};
  return PortListNames(answer, sizeof answer);
}

int TQXPH::Open() {
  if (entry_.Open == nullptr || entry_.Lock == nullptr) {
    serviceHandle_ = 0;
    return 0;
  }
  if (serviceHandle_ != 0) return 1;

  const WideText url = PortOpenUrl(RemoteMode == 1, RemoteAddressText, ServicePortName);
  SvcHandle handle = 0;
  if (entry_.Open(Url(url), &handle) != 0) {
    serviceHandle_ = 0;
    return 0;
  }
  serviceHandle_ = handle;
  if (entry_.Lock(serviceHandle_, ServiceLockTimeoutMs) != 0) {
    Close();
    return 0;
  }
  if (entry_.RegisterCallback != nullptr) {
    Attach();
    entry_.RegisterCallback(serviceHandle_, SVC_EVENT_DATA, &TQXPH::OnServiceData, 0);
  }
  if (entry_.Ioctl != nullptr) {
    // One 4-byte little-endian value.
    const unsigned char option[4] = {OpenOptionValue & 0xFF, 0, 0, 0};
    std::uint32_t answered = 0;
    entry_.Ioctl(serviceHandle_, SVC_IOCTL_OPEN_OPTION, option, sizeof option, nullptr, 0, &answered);
  }
  opened_ = 1;
  return 1;
}

int TQXPH::Write(int, const char* data, int length, int* written) {
  if (written) *written = 0;
  if (opened_ == 0 || serviceHandle_ == 0 || data == nullptr || length <= 0 || entry_.SendReceive == nullptr) {
    return 0;
  }
  const std::uint32_t timeout = ServiceWriteTimeout(length, WriteTimeoutMultiplier, WriteTimeoutConstant);
  std::uint32_t sent = 0;
  unsigned char receive[1] = {};
  std::uint32_t received = 0;
  const int result = entry_.SendReceive(serviceHandle_, data, static_cast<std::uint32_t>(length), &sent, 0, timeout,
                                        receive, 0, &received);
  // The count is what the library reported, also on failure, but never more than was
  // handed to it.
  if (written) *written = static_cast<int>(std::min(sent, static_cast<std::uint32_t>(length)));
  return result == 0 ? 1 : 0;
}

int TQXPH::Read(void* buffer, int length, int* got) {
  if (got) *got = 0;
  if (buffer == nullptr || length <= 0) return 0;
  int n = 0;
  {
    std::lock_guard lock(receive_.Lock);
    n = receive_.Queue.Take(static_cast<char*>(buffer), length);
  }
  if (got) *got = n;
  // A short or empty read is no failure: the data come when the service delivers them.
  return 1;
}

int TQXPH::Close() {
  // First of all: no callback may reach this port once the connection goes.
  Detach();
  // Without "Unlock" the close still fails, but the connection is closed all the same:
  // left open it would hold the port, and the next Open could not lock it.
  const bool complete = entry_.Close != nullptr && entry_.Unlock != nullptr;
  int closed = 0;
  if (serviceHandle_ != 0 && entry_.Close != nullptr) {
    if (entry_.Unlock != nullptr) entry_.Unlock(serviceHandle_);
    closed = entry_.Close(serviceHandle_);
  }
  opened_ = 0;
  serviceHandle_ = 0;
  // What the closed connection delivered is no answer to anything the next one asks.
  {
    std::lock_guard lock(receive_.Lock);
    receive_.Queue.Clear();
  }
  return complete && closed == 0 ? 1 : 0;
}

void TQXPH::Print(std::string_view text) {
  if (ListingSink) {
    ListingSink(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void TQXPH::ListProperties(bool remote, const WideText& portName) {
  SvcHandle port = 0;
  if (entry_.Open(Url(PortPropertyUrl(remote, RemoteAddressText, portName)), &port) != 0) {
    Print("\n");
    return;
  }
  auto query = [&](const char* name, WideText& value) {
    const std::vector<unsigned char> request = PropertyRequest(name);
    unsigned char answer[ServiceAnswerBytes] = {};
    std::uint32_t answered = 0;
    if (entry_.Ioctl == nullptr || entry_.Ioctl(port, SVC_IOCTL_GET_PROPERTY, request.data(),
                                                static_cast<std::uint32_t>(request.size()), answer, sizeof answer,
                                                &answered) != 0) {
      return false;
    }
    value = AnswerText(answer, sizeof answer);
    return true;
  };
  auto close = [&] {
    if (entry_.Close != nullptr) entry_.Close(port);
  };

  WideText value;
  for (const char* name : {"PortType", "PortName"}) {
    if (!query(name, value)) {
      close();
      Print("\n");
      return;
    }
    Print(PropertyField(value));
  }
  if (query("ModelName", value) || query("Id.ModelName", value)) Print(LastPropertyField(value));
  close();
  Print("\n");
}

void TQXPH::ListOneSide(bool remote) {
  SvcHandle list = 0;
  if (entry_.Open(Url(PortListUrl(remote, RemoteAddressText)), &list) != 0) return;
  for (const WideText& name : ListPorts(list)) {
    Print(remote ? TcpListingLine(name, RemoteAddressText) : PipeListingLine(name));
    ListProperties(remote, name);
  }
  if (entry_.Close != nullptr) entry_.Close(list);
}

int TQXPH::GetDeviceInfo(void*) {
  if (entry_.Open == nullptr || entry_.Lock == nullptr) return 0;
  ListOneSide(false);
  if (RemoteMode == 1) ListOneSide(true);
  return 0;
}

int TQXPH::GetInputAvailable() {
  std::lock_guard lock(receive_.Lock);
  return receive_.Queue.QueuedBytes();
}

}  // namespace qx
