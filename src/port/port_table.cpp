#include "port/port_table.h"

namespace qx {

PortTable::PortTable(PortFactory ports, WindowFactory windows)
    : portFactory_(std::move(ports)), windowFactory_(std::move(windows)) {}

PortTable::~PortTable() {
  // Ports go before the windows that may refer to them.
  for (auto& port : ports_) port.reset();
  windows_.reset();
}

void PortTable::LibraryInit(ModuleInstance instance) {
  if (createCount_ != 0) return;
  instance_ = instance;
  for (auto& port : ports_) port.reset();
  windows_.reset();
  if (windowFactory_) windows_ = windowFactory_(*this, instance);
}

void PortTable::LibraryShutdown() {
  if (createCount_ != 0) return;
  for (auto& port : ports_) port.reset();
  windows_.reset();
}

int PortTable::Create(int type) {
  ++createCount_;  // every call counts, also the failing ones
  if (createCount_ > MaxOutstanding) return -1;
  if (type < 0 || type >= PortKindCount) return -1;
  if (ports_[type]) return -1;
  std::unique_ptr<TQXCCC> port = portFactory_ ? portFactory_(type) : nullptr;
  if (!port) return -1;
  ports_[type] = std::move(port);
  return type;
}

int PortTable::Destroy(int index) {
  if (index < 0 || index >= Size) return -1;
  --createCount_;
  // While surplus (failed) creations are outstanding a destroy only cancels one.
  if (createCount_ >= MaxOutstanding) return 1;
  ports_[index].reset();
  return 1;
}

TQXCCC* PortTable::At(int index) const {
  if (index < 0 || index >= Size) return nullptr;
  return ports_[index].get();
}

int PortTable::Open(int index) {
  TQXCCC* port = At(index);
  return port ? port->Open() : -1;
}

int PortTable::Write(int index, int tag, const void* data, int length, int* written) {
  TQXCCC* port = At(index);
  if (!port) {
    if (written) *written = 0;
    return -1;
  }
  return port->Write(tag, static_cast<const char*>(data), length, written);
}

int PortTable::Read(int index, void* buffer, int length, int* got) {
  TQXCCC* port = At(index);
  if (!port) {
    if (got) *got = 0;
    return -1;
  }
  return port->Read(buffer, length, got);
}

int PortTable::Close(int index) {
  TQXCCC* port = At(index);
  return port ? port->Close() : -1;
}

int PortTable::Configure(int index, const PortSettings* settings) {
  TQXCCC* port = At(index);
  return port ? port->Configure(settings) : -1;
}

}  // namespace qx
