#include "app/printer_protocol.h"

namespace qx {

std::array<std::uint8_t, 9> WriteModelSetting(std::uint8_t value) {
  return {0x1D, 0x28, 0x45, 0x04, 0x00, 0x05, 0x7F, value, 0x00};
}

const char* ModelNameForDigit(std::uint8_t digit) {
  switch (digit) {
    case '1':
      return "QX-K40IV";
    case '2':
      return "QX-K40V";
    case '3':
      return "QX-K40VI";
    default:
      return "QX-K40VII";
  }
}

int ClassifyReplyByte(std::uint8_t b) {
  if (b == Xon || b == Xoff) return 0;
  if ((b & 0x93) == 0x12) return ReplyStatusByte;
  if ((b & 0x93) == 0x10) return ReplyAutoStatus;
  if ((b & 0x91) == 0x11) return ReplyBlock;
  return ReplyOther;
}

bool IsModelSettingReply(int result, const std::uint8_t* reply, int length, std::uint8_t& digit) {
  // 37 27 31 32 37 1F d 00. Only the bytes of this reply are compared: a block ends at
  // its first NUL, so an accepted reply is exactly these eight bytes.
  static constexpr std::uint8_t head[6] = {0x37, 0x27, 0x31, 0x32, 0x37, 0x1F};
  if (result != ReplyBlock || length < 8) return false;
  for (int i = 0; i < 6; ++i) {
    if (reply[i] != head[i]) return false;
  }
  if (reply[7] != 0x00) return false;
  digit = reply[6];
  return true;
}

}  // namespace qx
