#include "sim/transport/pty_server.h"

#include <algorithm>
#include <memory>

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "platform/time.h"

namespace qx::sim {

PtyPrinterServer::PtyPrinterServer(PrinterEngine& printer) : printer_(printer) {}

PtyPrinterServer::~PtyPrinterServer() { Stop(); }

#ifdef _WIN32

bool PtyPrinterServer::Available() { return false; }

bool PtyPrinterServer::Start(std::string* error, const std::string&) {
  if (error) *error = "a serial pty needs Linux";
  return false;
}

void PtyPrinterServer::Stop() {}
void PtyPrinterServer::Run() {}

#else

bool PtyPrinterServer::Available() { return true; }

bool PtyPrinterServer::Start(std::string* error, const std::string& linkPath) {
  if (thread_.joinable()) return true;
  auto fail = [&](const std::string& what) {
    if (error) *error = what + " failed (errno " + std::to_string(errno) + ")";
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) return fail("grantpt/unlockpt");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname_r");
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) return fail("open " + slavePath_);
  termios mode{};
  if (tcgetattr(slave_, &mode) == 0) {
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
  }
  const int flags = fcntl(master_, F_GETFL, 0);
  fcntl(master_, F_SETFL, flags | O_NONBLOCK);
  if (!linkPath.empty()) {
    struct stat old{};
    if (lstat(linkPath.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) unlink(linkPath.c_str());
    if (symlink(slavePath_.c_str(), linkPath.c_str()) != 0) return fail("symlink " + linkPath);
    linkPath_ = linkPath;
  }
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PtyPrinterServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (!linkPath_.empty()) unlink(linkPath_.c_str());
  linkPath_.clear();
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

void PtyPrinterServer::Run() {
  auto link = std::make_unique<HostLink>(printer_);
  Bytes unsent;
  char buffer[4096];
  while (!stop_) {
    if (unsent.empty()) unsent = link->Read();
    if (!unsent.empty()) {
      const ssize_t n = write(master_, unsent.data(), unsent.size());
      if (n > 0) unsent.erase(0, static_cast<std::size_t>(n));
    }
    if (!printer_.Reachable()) unsent.clear();  // a printer that went down sends no more
    int timeout = 10;
    if (!unsent.empty()) timeout = 1;
    const std::int64_t due = link->MillisecondsUntilOutput();
    if (due >= 0) timeout = static_cast<int>(std::min<std::int64_t>(timeout, due));
    pollfd fd{master_, POLLIN, 0};
    const int ready = poll(&fd, 1, timeout);
    if (ready > 0 && (fd.revents & POLLIN)) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) link->Write(buffer, static_cast<std::size_t>(n));
    } else if (ready > 0) {
      SleepMilliseconds(timeout > 0 ? timeout : 1);  // hang-up or error: nothing to read, do not spin
    }
  }
}

#endif

}  // namespace qx::sim
