#pragma once

#include "platform/sockets.h"

namespace qx {

// The message the socket window handles (WM_USER + 0x100); the network kind selects
// its socket events with it.
inline constexpr unsigned SocketNotifyMessage = 0x0500;

// What the hidden notification windows need from the ports they find in the table.
// A port kind that reacts to device removal or socket events also derives from one
// of these; the window procedures reach it by its kind and a dynamic_cast.

// Vendor USB ports: asked after a device removal whether their device is still there.
class DevicePresenceTarget {
 public:
  virtual ~DevicePresenceTarget() = default;
  // 1 when the device answers its status query, 0 when it has gone (or the port is closed).
  virtual int CheckDevicePresent() = 0;
};

// Network ports: told when their non-blocking connect completes.
class SocketNotifyTarget {
 public:
  virtual ~SocketNotifyTarget() = default;
  // The connected (or connecting) socket, InvalidSocketHandle when there is none.
  virtual SocketHandle Socket() const = 0;
  // FD_CONNECT: sets the flag IsOpen reports.
  virtual void MarkOpened() = 0;
  virtual void NotifyOpened() = 0;
};

}  // namespace qx
