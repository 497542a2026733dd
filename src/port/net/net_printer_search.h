#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/sockets.h"

namespace qx {

// The broadcast search for networked printers used by the Add Port dialog: one UDP
// socket per local IPv4 address, the search packet broadcast to port 3289 from each,
// and a check that a reply comes from a printer that qualifies.
class NetPrinterSearch {
 public:
  NetPrinterSearch();
  NetPrinterSearch(const NetPrinterSearch&) = delete;
  NetPrinterSearch& operator=(const NetPrinterSearch&) = delete;
  ~NetPrinterSearch();

  // `window`/`message`: where arriving datagrams are announced (WSAAsyncSelect with
  // FD_READ) on Windows; natively the caller polls ReadReply. The dialog passes its own
  // window and 0x10D9.
  void Open(void* window, unsigned message);
  void Broadcast();
  // 1 with the sender's dotted address in `addressText` (at least 16 characters) when
  // the datagram read comes from a qualifying printer; 0 otherwise.
  int ReadReply(char* addressText, std::size_t size);
  void Close();

 private:
  friend struct NetPrinterSearchTestAccess;

  static constexpr int MaxSockets = 16;

  std::vector<Socket> sockets_;
  std::unique_ptr<SocketLibrary> library_;
};

}  // namespace qx
