#include "port/serial/tty_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/time.h"

namespace qx {

namespace {

speed_t SpeedFor(std::uint32_t rate) {
  switch (rate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
  }
}

tcflag_t CharacterSize(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// Raises or lowers DTR and RTS; a pty has no modem lines and refuses, which is harmless.
void ModemLines(int fd, bool raise) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines);
}

// Milliseconds left until `deadline` on the steady clock, never below 0.
int Remaining(std::int64_t deadline) {
  const std::int64_t left = deadline - SteadyMilliseconds();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TQXTTY::TQXTTY(int portId, std::string path, Clock& clock)
    : TPlaceholderPort(portId, KindSerial), path_(std::move(path)), clock_(clock) {}

TQXTTY::~TQXTTY() { Close(); }

int TQXTTY::Open() {
  if (fd_ >= 0) return 1;
  // Non-blocking: neither the open nor a read may wait for carrier or data.
  const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return 0;
  }
  fd_ = fd;
  if (!ApplyLine(false) || tcflush(fd_, TCIOFLUSH) != 0) {
    ::close(fd_);
    fd_ = -1;
    return 0;
  }
  ModemLines(fd_, true);
  NotifyOpened();
  return 1;
}

bool TQXTTY::ApplyLine(bool bypass) {
  termios line{};
  if (tcgetattr(fd_, &line) != 0) return false;
  cfmakeraw(&line);
  line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
  line.c_cflag |= CREAD | CLOCAL | CharacterSize(dataBits_);
  switch (parity_) {
    case 1: line.c_cflag |= PARENB | PARODD; break;
    case 2: line.c_cflag |= PARENB; break;
    case 3: line.c_cflag |= PARENB | PARODD | CMSPAR; break;  // mark
    case 4: line.c_cflag |= PARENB | CMSPAR; break;           // space
    default: break;
  }
  // termios knows one or two stop bits; one and a half is sent as two.
  if (stopBits_ != 0) line.c_cflag |= CSTOPB;
  line.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (!bypass) {
    // DTR/DSR handshake has no termios form; RTS/CTS and XON/XOFF do.
    if (handshake_.OutxCtsFlow || handshake_.RtsControl == RtsControlHandshake) line.c_cflag |= CRTSCTS;
    if (handshake_.OutX) line.c_iflag |= IXON;
    if (handshake_.InX) line.c_iflag |= IXOFF;
  }
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  const speed_t speed = SpeedFor(baudRate_);
  if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) return false;
  return tcsetattr(fd_, TCSANOW, &line) == 0;
}

int TQXTTY::Write(int tag, const char* data, int length, int* written) {
  int done = 0;
  if (fd_ >= 0 && data != nullptr && length > 0) {
    const std::int64_t deadline =
        SteadyMilliseconds() + static_cast<std::int64_t>(writeMultiplier_) * length + writeConstant_;
    while (done < length) {
      const ssize_t n = ::write(fd_, data + done, static_cast<std::size_t>(length - done));
      if (n > 0) {
        done += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) break;  // the device went away
      pollfd wait{fd_, POLLOUT, 0};
      const int left = Remaining(deadline);
      if (left == 0 || poll(&wait, 1, left) <= 0 || (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
    }
  }
  if (written) *written = done;
  if (fd_ >= 0 && length > 0) NotifyWriteProgress(tag, done, done == length ? 1 : 0);
  return length > 0 && done == length ? 1 : 0;
}

// As the Windows kind with ReadIntervalTimeout MAXDWORD: what has arrived at once;
// with a total time-out, the first byte or that long with none.
int TQXTTY::Read(void* buffer, int length, int* got) {
  int n = 0;
  if (fd_ >= 0 && buffer != nullptr && length > 0) {
    const std::int64_t wait = static_cast<std::int64_t>(readMultiplier_) * length + readConstant_;
    pollfd ready{fd_, POLLIN, 0};
    if (wait == 0 || poll(&ready, 1, static_cast<int>(wait)) > 0) {
      const ssize_t r = ::read(fd_, buffer, static_cast<std::size_t>(length));
      // 0 or EIO: the far end hung up; the exchange sees no bytes.
      if (r > 0) n = static_cast<int>(r);
    }
  }
  if (got) *got = n;
  return length > 0 && n == length ? 1 : 0;
}

int TQXTTY::Close() {
  if (fd_ < 0) return 1;
  clock_.SleepMilliseconds(ClosePauseMs);
  ModemLines(fd_, false);
  tcflush(fd_, TCIOFLUSH);
  ::close(fd_);  // also drops the lock
  fd_ = -1;
  NotifyClosed();
  return 1;
}

int TQXTTY::Configure(const PortSettings* settings) {
  if (settings == nullptr) return 0;
  baudRate_ = BaudRateForCode(settings->BaudCode);
  parity_ = ParityForCode(settings->ParityCode);
  stopBits_ = StopBitsForCode(settings->StopBitsCode);
  dataBits_ = settings->DataBits;
  HandshakeForCode(settings->FlowControl, handshake_);
  readMultiplier_ = settings->ReadTimeoutMultiplier;
  readConstant_ = settings->ReadTimeoutConstant;
  writeMultiplier_ = settings->WriteTimeoutMultiplier;
  writeConstant_ = settings->WriteTimeoutConstant;
  if (fd_ < 0) {
    SetSyncMode(settings->SyncMode);
    return 1;
  }
  if (!ApplyLine(false)) return 0;
  ModemLines(fd_, true);
  return 1;
}

// Asynchronous mode is not offered here: the port stays synchronous whatever is asked.
int TQXTTY::SetSyncMode(int sync) {
  SyncMode = sync;
  return sync;
}

int TQXTTY::GetInputAvailable() {
  int available = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &available) != 0) return 0;
  return available;
}

void TQXTTY::ClearInput() {
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

int TQXTTY::SetHandshakeBypass(int on) {
  if (fd_ < 0) return 0;
  return ApplyLine(on != 0) ? 1 : 0;
}

}  // namespace qx
