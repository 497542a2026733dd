#include "port/net/net_printer_search.h"

#include <cstdio>
#include <cstring>

#include "port/net/net_protocol.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#endif

namespace qx {

namespace {

// Datagrams are announced to the window; the socket must never block a read either way.
void AnnounceToWindow(SocketHandle s, void* window, unsigned message) {
#ifdef _WIN32
  if (window) {
    WSAAsyncSelect(static_cast<SOCKET>(s), static_cast<HWND>(window), message, FD_READ);
    return;
  }
#else
  (void)window;
  (void)message;
#endif
  SetNonBlocking(s, true);
}

}  // namespace

NetPrinterSearch::NetPrinterSearch() = default;

NetPrinterSearch::~NetPrinterSearch() { Close(); }

void NetPrinterSearch::Open(void* window, unsigned message) {
  // A second Open replaces the sockets of the first, which nobody reads any more.
  Close();
  auto library = std::make_unique<SocketLibrary>(0x0101);
  if (!library->Started()) return;
  library_ = std::move(library);
  for (const Ipv4Address& address : LocalIpv4Addresses(MaxSockets)) {
    if (static_cast<int>(sockets_.size()) == MaxSockets) break;
    Socket s = Socket::Udp();
    if (!s.Valid()) continue;
    AnnounceToWindow(s.Handle(), window, message);
    if (Bind(s.Handle(), {address, 0}) != 0) continue;
    sockets_.push_back(std::move(s));
  }
}

void NetPrinterSearch::Broadcast() {
  for (const Socket& s : sockets_) {
    SetBroadcast(s.Handle(), true);
    SendTo(s.Handle(), SearchPacket.data(), static_cast<int>(SearchPacket.size()), {BroadcastAddress, ZemakPort});
    SetBroadcast(s.Handle(), false);
  }
}

int NetPrinterSearch::ReadReply(char* addressText, std::size_t size) {
  std::uint8_t buffer[ZemakDataCapacity];
  std::memset(buffer, 0, sizeof buffer);
  int n = -1;
  Ipv4Endpoint from;
  for (const Socket& s : sockets_) {
    n = ReceiveFrom(s.Handle(), buffer, sizeof buffer, &from);
    if (n >= 0) break;
  }
  if (n < 0) return 0;
  bool wellFormed = false;
  const int qualifies = CheckSearchReply(buffer, n, &wellFormed);
  if (!wellFormed) return 0;
  if (addressText && size > 0) std::snprintf(addressText, size, "%s", FormatDottedAddress(from.Address).c_str());
  return qualifies;
}

void NetPrinterSearch::Close() {
  for (Socket& s : sockets_) {
    Shutdown(s.Handle());
    s.Close();
  }
  sockets_.clear();
  library_.reset();
}

}  // namespace qx
