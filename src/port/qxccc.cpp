#include "port/qxccc.h"

namespace qx {

void TQXCCC::NotifyOpened() {
  if (IsOpen() == 1 && Hooks.OnOpened) Hooks.OnOpened(PortId);
}

void TQXCCC::NotifyClosed() {
  if (Hooks.OnClosed) Hooks.OnClosed(PortId);
}

int TQXCCC::NotifyWriteProgress(int tag, int bytesDone, int complete) {
  const int open = IsOpen();
  if (open == 1 && Hooks.OnWriteProgress) {
    return Hooks.OnWriteProgress(PortId, tag, bytesDone, complete);
  }
  return open;
}

void TQXCCC::NotifyDataArrived() {
  if (IsOpen() == 1 && Hooks.OnDataArrived) Hooks.OnDataArrived(PortId, GetInputAvailable());
}

}  // namespace qx
