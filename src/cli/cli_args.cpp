#include "cli/cli_args.h"

#include <cctype>
#include <cstdio>

namespace qx::cli {

namespace {

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// A decimal number of 1 to `maxDigits` digits and nothing else; no sign, no blanks.
bool ParseNumber(const std::string& s, int maxDigits, int& value) {
  if (s.empty() || static_cast<int>(s.size()) > maxDigits) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::vector<std::string> Split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(separator, start);
    parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string Numbered(const char* format, int n) {
  char name[32];
  std::snprintf(name, sizeof name, format, n);
  return name;
}

bool ParseCom(const std::string& original, const std::string& rest, PortSpec& spec, std::string& error) {
  const std::vector<std::string> parts = Split(rest, ':');
  int number = 0;
  if (parts.size() > 3 || !ParseNumber(parts[0], 3, number) || number < 1 || number > 255) {
    error = "bad serial port \"" + original + "\": expected com1 to com255, optionally :SPEED[:PARITY]";
    return false;
  }
  int baudCode = 3;  // 9600 bps, the dialog's default
  if (parts.size() >= 2) {
    int speed = 0;
    baudCode = 0;
    if (ParseNumber(parts[1], 6, speed)) {
      for (int i = 0; i < static_cast<int>(std::size(SerialSpeeds)); ++i) {
        if (SerialSpeeds[i] == speed) baudCode = i + 1;
      }
    }
    if (baudCode == 0) {
      error = "bad serial speed \"" + parts[1] + "\": expected 2400, 4800, 9600, 19200, 38400, 57600 or 115200";
      return false;
    }
  }
  int parityCode = 0;
  if (parts.size() == 3) {
    const std::string parity = Lower(parts[2]);
    if (parity == "none" || parity == "non") {
      parityCode = 0;
    } else if (parity == "odd") {
      parityCode = 1;
    } else if (parity == "even") {
      parityCode = 2;
    } else {
      error = "bad parity \"" + parts[2] + "\": expected none, odd or even";
      return false;
    }
  }
  spec.DisplayName = Numbered("COM%d", number);
  spec.Settings.PortType = KindSerial;
  spec.Settings.PortNumber = number - 1;
  spec.Settings.BaudCode = baudCode;
  spec.Settings.ParityCode = parityCode;
  return true;
}

bool ParseAddress(const std::string& text, std::uint8_t (&octets)[4]) {
  const std::vector<std::string> parts = Split(text, '.');
  if (parts.size() != 4) return false;
  for (int i = 0; i < 4; ++i) {
    int value = 0;
    if (!ParseNumber(parts[i], 3, value) || value > 255) return false;
    octets[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

}  // namespace

bool ParsePort(const std::string& text, const PortSettings& templateSettings, PortSpec& spec, std::string& error) {
  spec.Settings = templateSettings;
  const std::string lower = Lower(text);
  int number = 0;

  if (StartsWith(lower, "com")) return ParseCom(text, lower.substr(3), spec, error);

  if (StartsWith(lower, "lpt")) {
    // Codes from 9 up name the vendor's own parallel devices, not LPT10 and above.
    if (!ParseNumber(lower.substr(3), 1, number) || number < 1) {
      error = "bad parallel port \"" + text + "\": expected lpt1 to lpt9";
      return false;
    }
    spec.DisplayName = Numbered("LPT%d", number);
    spec.Settings.PortType = KindParallel;
    spec.Settings.LptCode = number - 1;
    return true;
  }

  const bool printerClass = StartsWith(lower, "usbprn-");
  if (printerClass || StartsWith(lower, "usb-")) {
    const std::string digits = lower.substr(printerClass ? 7 : 4);
    if (!ParseNumber(digits, 3, number) || number > 126) {
      error = "bad USB device \"" + text + "\": expected " + (printerClass ? "usbprn-" : "usb-") +
              "000 to 126 (see qxmodel list)";
      return false;
    }
    spec.DisplayName = Numbered(printerClass ? "USB PRN-%03d" : "USB-%03d", number);
    spec.Settings.PortType = printerClass ? KindUsbPrinter : KindVendorUsb;
    spec.Settings.DeviceNumber = number;
    return true;
  }

  if (StartsWith(lower, "net:")) {
    std::uint8_t octets[4] = {};
    if (!ParseAddress(lower.substr(4), octets)) {
      error = "bad network address \"" + text.substr(4) + "\": expected four numbers 0 to 255, as in net:10.0.0.5";
      return false;
    }
    const bool zero = octets[0] == 0 && octets[1] == 0 && octets[2] == 0 && octets[3] == 0;
    const bool broadcast = octets[0] == 255 && octets[1] == 255 && octets[2] == 255 && octets[3] == 255;
    if (zero || broadcast) {
      error = "bad network address \"" + text.substr(4) + "\": not the address of one printer";
      return false;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    spec.DisplayName = name;
    spec.Settings.PortType = KindNetwork;
    for (int i = 0; i < 4; ++i) spec.Settings.IpAddress[i] = octets[i];
    return true;
  }

  if (StartsWith(lower, "service:")) {
    if (!ParseNumber(lower.substr(8), 3, number)) {
      error = "bad service port \"" + text + "\": expected service:0 to service:999";
      return false;
    }
    spec.DisplayName = Numbered("PVDPRT%03d", number);
    spec.Settings.PortType = KindPortService;
    spec.Settings.SyncMode = 1;  // the port name is built from PortNumber
    spec.Settings.PortNumber = number;
    return true;
  }

  error = "bad port \"" + text + "\": expected comN[:SPEED[:PARITY]], lptN, usb-NNN, usbprn-NNN, net:ADDRESS or service:N";
  return false;
}

bool ParseModel(const std::string& text, std::uint8_t& value, std::string& name, std::string& error) {
  const std::string lower = Lower(text);
  if (lower == "qx-k40vii") {
    value = 0x00;
    name = "QX-K40VII";
  } else if (lower == "qx-k40vi") {
    value = 0x03;
    name = "QX-K40VI";
  } else if (lower == "qx-k40v") {
    value = 0x02;
    name = "QX-K40V";
  } else {
    error = "bad model \"" + text + "\": expected QX-K40VII, QX-K40VI or QX-K40V";
    return false;
  }
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--json") {
        line.Json = true;
      } else if (arg == "--stop-services") {
        line.StopServices = true;
      } else if (arg == "--no-search") {
        line.NoSearch = true;
      } else if (arg == "--help" || arg == "-h") {
        line.Verb = Command::Help;
      } else if (arg == "--version") {
        if (line.Verb != Command::Help) line.Verb = Command::Version;
      } else {
        error = "unknown option \"" + arg + "\"";
        return false;
      }
    } else {
      words.push_back(arg);
    }
  }
  if (line.Verb == Command::Help || line.Verb == Command::Version) return true;
  if (words.empty()) {
    error = "no command given";
    return false;
  }

  if (words[0] == "services") {
    if (words.size() == 1) {
      line.Verb = Command::Services;
    } else if (words.size() == 2 && words[1] == "start") {
      line.Verb = Command::ServicesStart;
    } else {
      error = "usage: qxmodel services [start]";
      return false;
    }
    if (line.NoSearch || line.StopServices) {
      error = line.NoSearch ? "--no-search applies to list only" : "--stop-services does not apply to services";
      return false;
    }
    return true;
  }

  struct Form {
    const char* Name;
    Command Verb;
    std::size_t Arguments;
    const char* Usage;
  };
  static constexpr Form forms[] = {
      {"get", Command::Get, 1, "get PORT"},       {"set", Command::Set, 2, "set MODEL PORT"},
      {"print", Command::Print, 1, "print PORT"}, {"list", Command::List, 0, "list"},
      {"info", Command::Info, 1, "info PORT"},    {"help", Command::Help, 0, "help"},
  };
  for (const Form& form : forms) {
    if (words[0] != form.Name) continue;
    if (words.size() - 1 != form.Arguments) {
      error = std::string("usage: qxmodel ") + form.Usage;
      return false;
    }
    line.Verb = form.Verb;
    if (form.Verb == Command::Set) {
      line.ModelText = words[1];
      line.PortText = words[2];
    } else if (form.Arguments == 1) {
      line.PortText = words[1];
    }
    if (line.NoSearch && form.Verb != Command::List) {
      error = "--no-search applies to list only";
      return false;
    }
    return true;
  }
  error = "unknown command \"" + words[0] + "\"";
  return false;
}

std::string UsageText() {
  return "usage: qxmodel [--json] [--stop-services] COMMAND\n"
         "\n"
         "commands:\n"
         "  get PORT          show the model the printer emulates\n"
         "  set MODEL PORT    change it (MODEL: QX-K40VII, QX-K40VI or QX-K40V)\n"
         "  print PORT        print the test line\n"
         "  info PORT         show the device information the port can give\n"
         "  list [--no-search]  list USB devices and printers that answer a network search\n"
         "  services          show the state of the spooler, its dependents and the vendor services\n"
         "  services start    start them again (after a crash or a killed qxmodel --stop-services)\n"
         "\n"
         "PORT:\n"
         "  com3  com3:19200  com3:9600:odd   serial port (speed 2400..115200, parity none|odd|even)\n"
         "  lpt1                              parallel port (lpt1..lpt9)\n"
         "  usb-000  usbprn-000               USB device (vendor driver, printer class)\n"
         "  net:10.0.0.5                      networked printer\n"
         "  service:1                         port of the port-communication service (PVDPRT001)\n"
         "\n"
         "options:\n"
         "  --json            machine-readable result on standard output\n"
         "  --stop-services   stop the print spooler and the vendor port services for the run;\n"
         "                    they are started again on every way out (also Ctrl-C)\n"
         "  --version         show the version\n"
         "\n"
         "exit status: 0 success, 1 the printer or port failed, 2 bad arguments,\n"
         "  3 a service could not be stopped or started again, 4 interrupted\n";
}

}  // namespace qx::cli
