#include "sim/engine/fault_spec.h"

#include <charconv>
#include <vector>

namespace qx::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseNumber(std::string_view text, int& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

bool ParseHexBytes(std::string_view text, Bytes& bytes) {
  if (text.size() % 2 != 0) return false;
  Bytes result;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    result.push_back(static_cast<char>(high * 16 + low));
  }
  bytes = std::move(result);
  return true;
}

bool ParseFaultSpec(std::string_view text, FaultSpec& spec, std::string& error) {
  spec = FaultSpec{};
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    error = "a fault is TARGET:ITEM[,ITEM...]";
    return false;
  }
  std::string_view target = text.substr(0, colon);
  if (target.substr(0, 4) == "udp.") {
    spec.Network = true;
    target.remove_prefix(4);
    if (target != "all") {
      spec.ForRequest = ZemakRequestFromName(target);
      if (!spec.ForRequest) {
        error = "unknown network fault target \"" + std::string(target) + "\"";
        return false;
      }
    }
  } else if (target != "all") {
    spec.ForCommand = CommandFromName(target);
    if (!spec.ForCommand || *spec.ForCommand == Command::WriteModelSetting ||
        *spec.ForCommand == Command::LeaveSettingMode) {
      error = "unknown fault target \"" + std::string(target) + "\" (identify, firmware, query, enter, all, udp.*)";
      return false;
    }
  }
  const std::string_view items = text.substr(colon + 1);
  if (items.empty()) {
    error = "the fault names no item";
    return false;
  }
  for (std::string_view item : SplitOn(items, ',')) {
    const std::size_t equals = item.find('=');
    const std::string_view key = item.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    const bool hasValue = equals != std::string_view::npos;
    int number = 0;
    Bytes bytes;
    auto numberItem = [&](int& field) {
      if (!hasValue || !ParseNumber(value, number)) return false;
      field = number;
      return true;
    };
    auto bytesItem = [&](Bytes& field) {
      if (!hasValue || !ParseHexBytes(value, bytes)) return false;
      field = bytes;
      return true;
    };
    bool ok = false;
    if (key == "silent" && !hasValue) {
      spec.Reply.Silent = spec.Datagram.Silent = true;
      ok = true;
    } else if (key == "count") {
      ok = numberItem(spec.Reply.Count) && number > 0;
      spec.Datagram.Count = spec.Reply.Count;
    } else if (key == "delay") {
      ok = numberItem(spec.Reply.DelayMs);
      spec.Datagram.DelayMs = spec.Reply.DelayMs;
    } else if (key == "replace") {
      ok = hasValue && ParseHexBytes(value, bytes);
      if (ok) spec.Reply.Replace = spec.Datagram.Replace = bytes;
    } else if (key == "pad") {
      ok = numberItem(spec.Reply.PadTo);
      spec.Datagram.PadDataTo = spec.Reply.PadTo;
    } else if (!spec.Network) {
      if (key == "no-nul" && !hasValue) {
        spec.Reply.DropNul = ok = true;
      } else if (key == "insert") {
        ok = bytesItem(spec.Reply.Insert);
      } else if (key == "at") {
        ok = numberItem(spec.Reply.InsertAt);
      } else if (key == "byte-delay") {
        ok = numberItem(spec.Reply.ByteDelayMs);
      } else if (key == "disconnect") {
        ok = numberItem(spec.Reply.DisconnectAfter);
      }
    } else {
      if (key == "result") {
        ok = hasValue && value.size() == 4 && ParseHexBytes(value, bytes);
        if (ok) {
          spec.Datagram.ResultCode = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) * 256 +
                                                                static_cast<unsigned char>(bytes[1]));
        }
      } else if (key == "data") {
        ok = hasValue && ParseHexBytes(value, bytes);
        if (ok) spec.Datagram.Data = bytes;
      } else if (key == "length") {
        ok = numberItem(spec.Datagram.AnnouncedLength) && number <= 0xFFFF;
      } else if (key == "before") {
        ok = bytesItem(spec.Datagram.Before);
      } else if (key == "after") {
        ok = bytesItem(spec.Datagram.After);
      } else if (key == "split") {
        ok = hasValue;
        int last = 0;
        for (std::string_view piece : SplitOn(value, '/')) {
          if (!ParseNumber(piece, number) || number <= last) ok = false;
          if (!ok) break;
          spec.Datagram.SplitAt.push_back(number);
          last = number;
        }
      }
    }
    if (!ok) {
      error = "bad fault item \"" + std::string(item) + "\"";
      return false;
    }
  }
  return true;
}

void ApplyFaultSpec(const FaultSpec& spec, PrinterEngine* printer, ZemakResponder* zemak) {
  if (spec.Network) {
    if (!zemak) return;
    if (spec.ForRequest) {
      zemak->SetFault(*spec.ForRequest, spec.Datagram);
    } else {
      zemak->SetFaultForAll(spec.Datagram);
    }
    return;
  }
  if (!printer) return;
  if (spec.ForCommand) {
    printer->SetFault(*spec.ForCommand, spec.Reply);
  } else {
    printer->SetFaultForAll(spec.Reply);
  }
}

}  // namespace qx::sim
