#pragma once

#include <cstddef>
#include <cstdint>

namespace qx {

// Port kind codes; each is also the port table index of that kind's one port object.
enum PortKind : int {
  KindSerial = 0,
  KindParallel = 1,
  KindVendorUsb = 2,
  KindNetwork = 3,
  KindUsbPrinter = 4,
  KindPortService = 5,
};
inline constexpr int PortKindCount = 6;

// The settings record handed to the port table's Configure. Its layout is fixed: fifteen 32-bit
// fields and a 4-byte IPv4 address, 64 bytes; the four time-outs are in the order of
// COMMTIMEOUTS after its first member.
struct PortSettings {
  std::int32_t PortType = 0;
  std::int32_t SyncMode = 0;
  std::int32_t PortNumber = 0;
  std::int32_t BaudCode = 0;
  std::int32_t DataBits = 0;
  std::int32_t ParityCode = 0;
  std::int32_t StopBitsCode = 0;
  std::int32_t FlowControl = 0;
  std::int32_t LptCode = 0;
  std::int32_t DeviceNumber = 0;
  std::int32_t Channel = 0;
  std::uint8_t IpAddress[4] = {0, 0, 0, 0};  // first octet first
  std::uint32_t ReadTimeoutMultiplier = 0;
  std::uint32_t ReadTimeoutConstant = 0;
  std::uint32_t WriteTimeoutMultiplier = 0;
  std::uint32_t WriteTimeoutConstant = 0;
};

static_assert(sizeof(PortSettings) == 64);
static_assert(offsetof(PortSettings, PortType) == 0);
static_assert(offsetof(PortSettings, SyncMode) == 4);
static_assert(offsetof(PortSettings, PortNumber) == 8);
static_assert(offsetof(PortSettings, BaudCode) == 12);
static_assert(offsetof(PortSettings, DataBits) == 16);
static_assert(offsetof(PortSettings, ParityCode) == 20);
static_assert(offsetof(PortSettings, StopBitsCode) == 24);
static_assert(offsetof(PortSettings, FlowControl) == 28);
static_assert(offsetof(PortSettings, LptCode) == 32);
static_assert(offsetof(PortSettings, DeviceNumber) == 36);
static_assert(offsetof(PortSettings, Channel) == 40);
static_assert(offsetof(PortSettings, IpAddress) == 44);
static_assert(offsetof(PortSettings, ReadTimeoutMultiplier) == 48);
static_assert(offsetof(PortSettings, ReadTimeoutConstant) == 52);
static_assert(offsetof(PortSettings, WriteTimeoutMultiplier) == 56);
static_assert(offsetof(PortSettings, WriteTimeoutConstant) == 60);

}  // namespace qx
