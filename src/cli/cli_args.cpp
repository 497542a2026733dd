#include "cli/cli_args.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

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

// The :SPEED[:PARITY] after a serial port's name (parts[0]) as the dialog codes them.
bool ParseLine(const std::vector<std::string>& parts, PortSpec& spec, std::string& error) {
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
  spec.Settings.PortType = KindSerial;
  spec.Settings.BaudCode = baudCode;
  spec.Settings.ParityCode = parityCode;
  return true;
}

bool ParseCom(const std::string& original, const std::string& rest, PortSpec& spec, std::string& error) {
  const std::vector<std::string> parts = Split(rest, ':');
  int number = 0;
  if (parts.size() > 3 || !ParseNumber(parts[0], 3, number) || number < 1 || number > 255) {
    error = "bad serial port \"" + original + "\": expected com1 to com255, optionally :SPEED[:PARITY]";
    return false;
  }
  if (!ParseLine(parts, spec, error)) return false;
  spec.DisplayName = Numbered("COM%d", number);
  spec.Settings.PortNumber = number - 1;
  return true;
}

// serial:PATH[:SPEED[:PARITY]]. On Windows the path is a COM port's name; elsewhere a
// tty, a bare name meaning the one under /dev.
bool ParseSerial(const std::string& original, const std::string& rest, PortSpec& spec, std::string& error) {
#ifdef _WIN32
  const std::string lower = Lower(rest);
  if (!StartsWith(lower, "com")) {
    error = "bad serial port \"" + original + "\": expected serial:COM1 to serial:COM255";
    return false;
  }
  return ParseCom(original, lower.substr(3), spec, error);
#else
  const std::vector<std::string> parts = Split(rest, ':');
  bool blank = parts[0].empty();
  for (char c : parts[0]) blank = blank || std::isspace(static_cast<unsigned char>(c)) || c == '\0';
  if (parts.size() > 3 || blank) {
    error = "bad serial port \"" + original + "\": expected serial:PATH, optionally :SPEED[:PARITY]";
    return false;
  }
  if (!ParseLine(parts, spec, error)) return false;
  spec.DevicePath = parts[0].find('/') == std::string::npos ? "/dev/" + parts[0] : parts[0];
  spec.DisplayName = spec.DevicePath;
  return true;
#endif
}

// A host name as resolvers take it: dot-separated labels of letters, digits and
// hyphens, not all digits (those are mistyped addresses).
bool IsHostName(const std::string& text) {
  if (text.empty() || text.size() > 253) return false;
  bool letter = false;
  for (const std::string& label : Split(text, '.')) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      const bool alpha = std::isalpha(static_cast<unsigned char>(c)) != 0;
      if (!alpha && !std::isdigit(static_cast<unsigned char>(c)) && c != '-') return false;
      letter = letter || alpha || c == '-';
    }
  }
  return letter;
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
  if (StartsWith(lower, "serial:")) return ParseSerial(text, text.substr(7), spec, error);

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
    if (IsHostName(lower.substr(4))) {
      spec.DisplayName = lower.substr(4);
      spec.HostName = lower.substr(4);
      spec.Settings.PortType = KindNetwork;
      return true;
    }
    if (!ParseAddress(lower.substr(4), octets)) {
      error = "bad network address \"" + text.substr(4) +
              "\": expected four numbers 0 to 255 or a host name, as in net:10.0.0.5 or net:printer1";
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

  error = "bad port \"" + text +
          "\": expected comN[:SPEED[:PARITY]], serial:PATH[:SPEED[:PARITY]], lptN, usb-NNN, usbprn-NNN, "
          "net:ADDRESS, net:HOST or service:N";
  return false;
}

std::string DeviceKey(const PortSpec& spec) {
  const PortSettings& s = spec.Settings;
  switch (s.PortType) {
    case KindSerial:
      if (!spec.DevicePath.empty()) return "tty:" + spec.DevicePath;
      // Every COM port is opened through the one system-wide name "ComPortName".
      return "com";
    case KindParallel:
      return "lpt";  // likewise "LptPortName"
    case KindNetwork:
      if (!spec.HostName.empty() && s.IpAddress[0] == 0) return "host:" + spec.HostName;
      return "net:" + std::to_string(s.IpAddress[0]) + "." + std::to_string(s.IpAddress[1]) + "." +
             std::to_string(s.IpAddress[2]) + "." + std::to_string(s.IpAddress[3]);
    case KindPortService:
      return "service:" + std::to_string(s.PortNumber);
    default:
      return std::to_string(s.PortType) + ":" + std::to_string(s.DeviceNumber);
  }
}

std::vector<std::string> ReadPortList(std::istream& in) {
  std::vector<std::string> ports;
  std::string text;
  while (std::getline(in, text)) {
    text = text.substr(0, text.find('#'));
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    ports.push_back(text.substr(first, text.find_last_not_of(" \t\r") + 1 - first));
  }
  return ports;
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

namespace {

// -j N, -jN, --jobs N, --jobs=N.
bool ParseJobs(const std::string& text, CommandLine& line, std::string& error) {
  int jobs = 0;
  if (!ParseNumber(text, 3, jobs) || jobs < 1 || jobs > MaxJobs) {
    error = "bad job count \"" + text + "\": expected 1 to " + std::to_string(MaxJobs);
    return false;
  }
  line.Jobs = jobs;
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  std::vector<std::string> words;
  bool optionsEnded = false;
  bool fleetOption = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // An option's value: after "=", joined (-j8) or the next argument.
    auto value = [&](const std::string& name, std::string& text) {
      if (arg.size() > name.size()) {
        text = arg.substr(arg[name.size()] == '=' ? name.size() + 1 : name.size());
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      text = args[++i];
      return true;
    };
    std::string text;
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
      } else if (StartsWith(arg, "-j") || arg == "--jobs" || StartsWith(arg, "--jobs=")) {
        if (!value(StartsWith(arg, "--") ? "--jobs" : "-j", text) || !ParseJobs(text, line, error)) return false;
        fleetOption = true;
      } else if (arg == "--ports-from" || StartsWith(arg, "--ports-from=")) {
        if (!value("--ports-from", text)) return false;
        if (text.empty()) {
          error = "--ports-from needs a file name, or - for standard input";
          return false;
        }
        line.PortsFrom = text;
        fleetOption = true;
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
    if (line.NoSearch || line.StopServices || fleetOption) {
      error = line.NoSearch       ? "--no-search applies to list only"
              : line.StopServices ? "--stop-services does not apply to services"
                                  : "-j and --ports-from apply to get, set and print only";
      return false;
    }
    return true;
  }

  struct Form {
    const char* Name;
    Command Verb;
    std::size_t Before;  // arguments before the ports
    bool Fleet;          // any number of PORTs, or --ports-from
    const char* Usage;
  };
  static constexpr Form forms[] = {
      {"get", Command::Get, 0, true, "get PORT..."},
      {"set", Command::Set, 1, true, "set MODEL PORT..."},
      {"print", Command::Print, 0, true, "print PORT..."},
      {"list", Command::List, 0, false, "list"},
      {"info", Command::Info, 0, false, "info PORT"},
      {"help", Command::Help, 0, false, "help"},
  };
  for (const Form& form : forms) {
    if (words[0] != form.Name) continue;
    const std::size_t given = words.size() - 1;
    const std::size_t ports = given >= form.Before ? given - form.Before : 0;
    const bool portless = form.Verb == Command::List || form.Verb == Command::Help;
    // A fleet's PORTs may come from the arguments, the list, or both.
    const bool fits = given >= form.Before && (portless       ? ports == 0
                                               : !form.Fleet ? ports == 1
                                                             : ports > 0 || !line.PortsFrom.empty());
    if (!fits) {
      error = std::string("usage: qxmodel ") + form.Usage;
      if (form.Fleet) error += std::string(", or qxmodel ") + (form.Before ? "set MODEL" : form.Name) + " --ports-from FILE";
      return false;
    }
    if (fleetOption && !form.Fleet) {
      error = "-j and --ports-from apply to get, set and print only";
      return false;
    }
    line.Verb = form.Verb;
    if (form.Before == 1) line.ModelText = words[1];
    line.PortTexts.assign(words.begin() + 1 + static_cast<std::ptrdiff_t>(form.Before), words.end());
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
  return "usage: qxmodel [--json] [--stop-services] [-j N] COMMAND\n"
         "\n"
         "commands:\n"
         "  get PORT...       show the model the printer emulates\n"
         "  set MODEL PORT... change it (MODEL: QX-K40VII, QX-K40VI or QX-K40V)\n"
         "  print PORT...     print the test line\n"
         "  info PORT         show the device information the port can give\n"
         "  list [--no-search]  list USB devices and printers that answer a network search\n"
         "  services          show the state of the spooler, its dependents and the vendor services\n"
         "  services start    start them again (after a crash or a killed qxmodel --stop-services)\n"
         "\n"
         "PORT:\n"
         "  com3  com3:19200  com3:9600:odd   serial port (speed 2400..115200, parity none|odd|even)\n"
         "  serial:/dev/ttyUSB0:19200:odd     serial port by its device (serial:COM3 on Windows)\n"
         "  lpt1                              parallel port (lpt1..lpt9)\n"
         "  usb-000  usbprn-000               USB device (vendor driver, printer class)\n"
         "  net:10.0.0.5  net:printer1        networked printer (IPv4 address or host name)\n"
         "  service:1                         port of the port-communication service (PVDPRT001)\n"
         "\n"
         "options:\n"
         "  --json            machine-readable result on standard output\n"
         "  --stop-services   stop the print spooler and the vendor port services for the run;\n"
         "                    they are started again on every way out (also Ctrl-C)\n"
         "  -j N, --jobs N    run up to N exchanges at once (default 8; one at a time per device)\n"
         "  --ports-from FILE take the PORTs from FILE, one a line, # comments (- standard input)\n"
         "  --version         show the version\n"
         "\n"
         "With several PORTs each port gets one line as it finishes, PORT<TAB>MODEL or\n"
         "PORT<TAB>error: MESSAGE (with --json one object a line), and a summary on standard error.\n"
         "\n"
         "exit status: 0 success (every port), 1 the printer or port failed (any port), 2 bad arguments,\n"
         "  3 a service could not be stopped or started again, 4 interrupted\n";
}

}  // namespace qx::cli
