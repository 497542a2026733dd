#include "sim/program/options.h"

#include <charconv>
#include <cstdlib>

namespace qx::sim {

namespace {

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty()) return false;
  int base = 10;
  std::size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  const char* begin = text.data() + skip;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(begin, end, value, base);
  return error == std::errc() && stop == end && value <= max;
}

bool ParseByte(const std::string& text, std::uint8_t& value) {
  unsigned long v = 0;
  if (!ParseUnsigned(text, 255, v)) return false;
  value = static_cast<std::uint8_t>(v);
  return true;
}

// "M.mm" as the host shows versions: both parts hexadecimal ("%X.%02X").
bool ParseVersion(const std::string& text, std::uint8_t& major, std::uint8_t& minor) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return false;
  unsigned long a = 0, b = 0;
  const std::string high = text.substr(0, dot), low = text.substr(dot + 1);
  auto hex = [](const std::string& part, unsigned long& v) {
    if (part.empty() || part.size() > 2) return false;
    const auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), v, 16);
    return error == std::errc() && stop == part.data() + part.size();
  };
  if (!hex(high, a) || !hex(low, b)) return false;
  major = static_cast<std::uint8_t>(a);
  minor = static_cast<std::uint8_t>(b);
  return true;
}

bool ParseMac(const std::string& text, std::array<std::uint8_t, 6>& mac) {
  if (text.size() != 17) return false;
  std::string hex;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2) {
      if (text[i] != ':' && text[i] != '-') return false;
    } else {
      hex.push_back(text[i]);
    }
  }
  Bytes bytes;
  if (!ParseHexBytes(hex, bytes) || bytes.size() != 6) return false;
  for (std::size_t i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(bytes[i]);
  return true;
}

bool ParseSetting(const std::string& text, std::uint8_t& value) {
  if (text == "QX-K40VII") {
    value = 0x00;
  } else if (text == "QX-K40VI") {
    value = 0x03;
  } else if (text == "QX-K40V") {
    value = 0x02;
  } else if (text == "QX-K40IV") {
    value = 0x01;
  } else {
    return ParseByte(text, value);
  }
  return true;
}

}  // namespace

std::string UsageText() {
  return "usage: qxsim [options]\n"
         "  --address A            IPv4 address to listen on (default 127.0.0.1)\n"
         "  --tcp-port N           raw print port (default 9100); --no-tcp: none\n"
         "  --udp-port N           ZEMAK status port (default 3289); --no-udp: none\n"
         "  --serial               also a serial line on a pty (its path is printed)\n"
         "  --serial-link PATH     a symbolic link to the pty (implies --serial)\n"
         "  --model NAME           model name of the identify reply (default QX-K40VII)\n"
         "  --firmware TEXT        firmware text (default 6.00)\n"
         "  --setting V            model setting: QX-K40VII, QX-K40VI, QX-K40V, QX-K40IV or a byte\n"
         "  --restart-ms N         unreachable this long after leaving setting mode (default 10000)\n"
         "  --interface plain|extended   network interface kind (default plain)\n"
         "  --identity TEXT        identity text of the network interface\n"
         "  --mac AA:BB:CC:DD:EE:FF, --hard-version M.mm, --soft-version M.mm (hex)\n"
         "  --byte61 N, --ready-byte N, --basic-status N, --extended-status N, --model-prefix XXXX\n"
         "  --fault SPEC           a fault (repeatable), e.g. identify:silent, firmware:delay=2500,\n"
         "                         udp.ready:data=01, udp.identity:split=7/20 (see fault_spec.h)\n"
         "  --log FILE             every byte in and out, with time and direction\n"
         "  --print-capture FILE   every printed line\n"
         "  --lifetime SECONDS     end by itself after this long (default: at SIGINT/SIGTERM)\n"
         "  --help\n";
}

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options, std::string& error) {
  options = ProgramOptions{};
  SimulatedPrinterOptions& p = options.Printer;
  static const char* const withValue[] = {
      "--address", "--tcp-port", "--udp-port", "--serial-link", "--model", "--firmware", "--setting",
      "--restart-ms", "--interface", "--identity", "--mac", "--hard-version", "--soft-version", "--byte61",
      "--ready-byte", "--basic-status", "--extended-status", "--model-prefix", "--fault", "--log",
      "--print-capture", "--lifetime"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    std::string v;
    auto bad = [&] {
      error = "bad value \"" + v + "\" for " + name;
      return false;
    };
    unsigned long number = 0;
    if (name == "--help" || name == "-h") {
      options.Help = true;
      continue;
    }
    if (name == "--no-tcp") {
      p.Tcp = false;
      continue;
    }
    if (name == "--no-udp") {
      p.Udp = false;
      continue;
    }
    if (name == "--serial") {
      p.Serial = true;
      continue;
    }
    bool known = false;
    for (const char* option : withValue) known = known || name == option;
    if (!known) {
      error = "unknown option " + name;
      return false;
    }
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    v = args[++i];
    if (name == "--address") {
      if (!ParseDottedAddress(v.c_str(), p.Address)) return bad();
    } else if (name == "--tcp-port") {
      if (!ParseUnsigned(v, 65535, number)) return bad();
      p.TcpPort = static_cast<std::uint16_t>(number);
    } else if (name == "--udp-port") {
      if (!ParseUnsigned(v, 65535, number)) return bad();
      p.UdpPort = static_cast<std::uint16_t>(number);
    } else if (name == "--serial-link") {
      p.Serial = true;
      p.SerialLink = v;
    } else if (name == "--model") {
      p.Printer.ModelName = v;
    } else if (name == "--firmware") {
      p.Printer.Firmware = v;
    } else if (name == "--setting") {
      if (!ParseSetting(v, p.Printer.ModelSetting)) return bad();
    } else if (name == "--restart-ms") {
      if (!ParseUnsigned(v, 24ul * 3600 * 1000, number)) return bad();
      p.Printer.RestartMs = static_cast<std::int64_t>(number);
    } else if (name == "--interface") {
      const ZemakConfig kind = v == "plain" ? ZemakConfig::Plain() : ZemakConfig::Extended();
      if (v != "plain" && v != "extended") return bad();
      p.Zemak.Interface = kind.Interface;
      p.Zemak.Identity = kind.Identity;
    } else if (name == "--identity") {
      p.Zemak.Identity = v;
    } else if (name == "--mac") {
      if (!ParseMac(v, p.Zemak.Mac)) return bad();
    } else if (name == "--hard-version") {
      if (!ParseVersion(v, p.Zemak.HardMajor, p.Zemak.HardMinor)) return bad();
    } else if (name == "--soft-version") {
      if (!ParseVersion(v, p.Zemak.SoftMajor, p.Zemak.SoftMinor)) return bad();
    } else if (name == "--byte61") {
      if (!ParseByte(v, p.Zemak.Byte61)) return bad();
    } else if (name == "--ready-byte") {
      if (!ParseByte(v, p.Zemak.ReadyByte)) return bad();
    } else if (name == "--basic-status") {
      if (!ParseByte(v, p.Zemak.BasicStatus)) return bad();
    } else if (name == "--extended-status") {
      if (!ParseByte(v, p.Zemak.ExtendedStatus)) return bad();
    } else if (name == "--model-prefix") {
      if (v.size() != 4) return bad();
      p.Zemak.ModelPrefix = v;
    } else if (name == "--fault") {
      FaultSpec spec;
      if (!ParseFaultSpec(v, spec, error)) return false;
      options.Faults.push_back(spec);
    } else if (name == "--log") {
      options.LogFile = v;
    } else if (name == "--print-capture") {
      options.PrintFile = v;
    } else if (name == "--lifetime") {
      char* end = nullptr;
      options.LifetimeSeconds = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || options.LifetimeSeconds <= 0) return bad();
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  return true;
}

}  // namespace qx::sim
