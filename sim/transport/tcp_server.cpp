#include "sim/transport/tcp_server.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/time.h"

namespace qx::sim {

namespace {

constexpr int PollMs = 10;

struct Connection {
  Socket socket;
  std::unique_ptr<HostLink> link;
  Bytes unsent;
  bool dead = false;
  int generation = 0;  // the printer's restarts when it was accepted
};

// An orderly end: what the host sent last is read away first, so that closing does not
// turn into a reset that could throw away the bytes the host has not read yet.
void CloseGently(Connection& c) {
  char scrap[1024];
  for (int i = 0; i < 64 && Receive(c.socket.Handle(), scrap, sizeof scrap) > 0; ++i) {
  }
  Shutdown(c.socket.Handle());
  c.socket.Close();
}

}  // namespace

TcpPrinterServer::TcpPrinterServer(PrinterEngine& printer, Ipv4Endpoint at) : printer_(printer), at_(at) {}

TcpPrinterServer::~TcpPrinterServer() { Stop(); }

bool TcpPrinterServer::OpenListener(std::string* error) {
  Socket s = Socket::Tcp();
  if (!s.Valid()) {
    if (error) *error = "socket failed (" + std::to_string(SocketError()) + ")";
    return false;
  }
  SetReuseAddress(s.Handle(), true);
  if (Bind(s.Handle(), at_) != 0 || Listen(s.Handle(), MaxConnections) != 0) {
    if (error) {
      *error = "cannot listen on tcp " + FormatDottedAddress(at_.Address) + ":" + std::to_string(at_.Port) + " (" +
               std::to_string(SocketError()) + ")";
    }
    return false;
  }
  SetNonBlocking(s.Handle(), true);
  if (at_.Port == 0) LocalEndpoint(s.Handle(), at_);
  listener_ = std::move(s);
  listening_ = true;
  return true;
}

bool TcpPrinterServer::Start(std::string* error) {
  if (thread_.joinable()) return true;
  if (!OpenListener(error)) return false;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TcpPrinterServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.Close();
  listening_ = false;
}

void TcpPrinterServer::Run() {
  std::vector<std::unique_ptr<Connection>> connections;
  char buffer[4096];
  auto closeAll = [&] {
    for (auto& c : connections) CloseGently(*c);
    connections.clear();
  };

  while (!stop_) {
    const bool reachable = printer_.Reachable();
    const int now = printer_.RestartCount();
    // The printer went down (and may already be back): the connections it had are
    // gone. One accepted after a restart that came and went during a wait is not.
    for (auto& c : connections) {
      if (!reachable || c->generation != now) {
        CloseGently(*c);
        c->dead = true;
      }
    }
    std::erase_if(connections, [](const auto& c) { return c->dead; });
    if (!reachable && listener_.Valid()) {
      listener_.Close();
      listening_ = false;
    }
    if (reachable && !listener_.Valid() && !OpenListener(nullptr)) {
      connections_ = 0;
      SleepMilliseconds(PollMs);
      continue;
    }

    // Printer bytes out.
    for (auto& c : connections) {
      if (c->unsent.empty()) c->unsent = c->link->Read();
      if (!c->unsent.empty()) {
        const int n = Send(c->socket.Handle(), c->unsent.data(), static_cast<int>(c->unsent.size()));
        if (n > 0) {
          c->unsent.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && !IsWouldBlock(SocketError())) {
          c->dead = true;
        }
      }
      if (c->unsent.empty() && c->link->HungUp()) c->dead = true;
    }
    for (auto& c : connections) {
      if (c->dead) CloseGently(*c);
    }
    std::erase_if(connections, [](const auto& c) { return c->dead; });
    connections_ = static_cast<int>(connections.size());

    // Wait for the host, or for the next reply byte that falls due.
    int timeout = PollMs;
    for (auto& c : connections) {
      if (!c->unsent.empty()) timeout = std::min(timeout, 1);
      const std::int64_t due = c->link->MillisecondsUntilOutput();
      if (due >= 0) timeout = std::min<std::int64_t>(timeout, due);
    }
    SocketHandle handles[MaxConnections + 1];
    bool readable[MaxConnections + 1];
    int count = 0;
    if (listener_.Valid()) handles[count++] = listener_.Handle();
    for (auto& c : connections) handles[count++] = c->socket.Handle();
    const int ready = WaitReadableAny(handles, readable, count, timeout);
    if (ready < 0) SleepMilliseconds(1);  // never spin on a failing wait
    if (ready <= 0) continue;

    int index = 0;
    if (listener_.Valid()) {
      if (readable[index++]) {
        Ipv4Endpoint peer;
        Socket accepted(Accept(listener_.Handle(), &peer));
        if (accepted.Valid()) {
          if (connections.size() >= static_cast<std::size_t>(MaxConnections)) {
            accepted.Close();
          } else {
            SetNonBlocking(accepted.Handle(), true);
            SetNoDelay(accepted.Handle(), true);
            auto c = std::make_unique<Connection>();
            c->generation = printer_.RestartCount();
            c->socket = std::move(accepted);
            c->link = std::make_unique<HostLink>(printer_);
            connections.push_back(std::move(c));
            ++accepted_;
          }
        }
      }
    }
    // Host bytes in (only the connections that were waited on).
    for (std::size_t i = 0; index < count && i < connections.size(); ++i, ++index) {
      if (!readable[index]) continue;
      Connection& c = *connections[i];
      const int n = Receive(c.socket.Handle(), buffer, sizeof buffer);
      if (n > 0) {
        c.link->Write(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || !IsWouldBlock(SocketError())) {
        c.dead = true;  // the host closed its side
      }
    }
    for (auto& c : connections) {
      if (c->dead) CloseGently(*c);
    }
    std::erase_if(connections, [](const auto& c) { return c->dead; });
    connections_ = static_cast<int>(connections.size());
  }
  closeAll();
  connections_ = 0;
}

}  // namespace qx::sim
