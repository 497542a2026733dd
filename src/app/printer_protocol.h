#pragma once

// The printer's command protocol as this utility speaks it: command bytes, the reply
// classes, the emulated-model table and the texts of the message boxes.

#include <array>
#include <cstdint>

namespace qx {

inline constexpr std::array<std::uint8_t, 5> IdentifyCommand{0x10, 0x14, 0x12, 0x00, 0x03};
inline constexpr std::array<std::uint8_t, 3> FirmwareQuery{0x1D, 0x49, 0x41};
inline constexpr std::array<std::uint8_t, 7> ModelSettingQuery{0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x7F};
inline constexpr std::array<std::uint8_t, 8> EnterSettingMode{0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E};
inline constexpr std::array<std::uint8_t, 9> LeaveSettingMode{0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54};

// 1D 28 45 04 00 05 7F nn 00, nn = the model setting value.
std::array<std::uint8_t, 9> WriteModelSetting(std::uint8_t value);

// The 37 characters of the test line, a line feed and a NUL that is sent too: 39 bytes.
inline constexpr char TestPrintText[] = "QX-K40VII Setting Utility Test Print.\n";
inline constexpr int TestPrintLength = 39;
static_assert(sizeof TestPrintText == TestPrintLength);

// Model setting values written by Set.
inline constexpr std::uint8_t ModelValueK40VII = 0x00;
inline constexpr std::uint8_t ModelValueK40V = 0x02;
inline constexpr std::uint8_t ModelValueK40VI = 0x03;

// The model name that the digit of a model-setting reply stands for.
const char* ModelNameForDigit(std::uint8_t digit);

// Results of ReceiveReply, decided on the first byte of a reply.
enum ReplyResult : int {
  ReplyNone = 0,
  ReplyStatusByte = 1,
  ReplyAutoStatus = 2,
  ReplyBlock = 3,
  ReplyOther = 4,
};

inline constexpr std::uint8_t Xon = 0x11;
inline constexpr std::uint8_t Xoff = 0x13;
inline constexpr int ReplyBufferSize = 512;

// 0 for the flow-control bytes, else the ReplyResult class the byte opens.
int ClassifyReplyByte(std::uint8_t b);

// True when a reply is the printer's answer to ModelSettingQuery; `digit` gets byte 6.
bool IsModelSettingReply(int result, const std::uint8_t* reply, int length, std::uint8_t& digit);

// Message boxes.
enum class MessageIcon { Error, Information };
inline constexpr char TitleError[] = "Error";
inline constexpr char TitleInformation[] = "Information";
inline constexpr char MessageCannotOpen[] = "This utility can't open communication port.";
inline constexpr char MessageCannotSend[] = "This utility can't send data to printer.";
inline constexpr char MessageNotRecognised[] = "Communication error.Can not recognize QX-K40VII.";
inline constexpr char MessageCannotGet[] = "This utility can't get data from printer.";
inline constexpr char MessageGetSucceeded[] = "Getting information was successful.";
inline constexpr char MessageSetSucceeded[] = "The setting change succeeded.";
inline constexpr char MessagePrintSucceeded[] = "Test print was successful.";

}  // namespace qx
