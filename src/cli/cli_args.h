#pragma once

// The qxmodel command line: commands, PORT and MODEL arguments and options. Pure
// parsing, no I/O, so that it is tested natively.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "port/port_settings.h"

namespace qx::cli {

// Exit codes of qxmodel.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailed = 1;  // the exchange, the search or the listing failed
inline constexpr int ExitUsage = 2;   // bad command, PORT, MODEL or option
// A service could not be stopped, or could not be started again (named on standard
// error and in the JSON object). Wins over 1 and 4: until it is fixed nothing prints.
inline constexpr int ExitServices = 3;
// Interrupted (Ctrl-C, Ctrl-Break, the console closed, logoff, shutdown, SIGINT,
// SIGTERM) after the services this run stopped were started again.
inline constexpr int ExitInterrupted = 4;

enum class Command { None, Get, Set, Print, List, Info, Services, ServicesStart, Help, Version };

// A PORT argument turned into a port-list entry, as the Add Port dialog would build it.
struct PortSpec {
  std::string DisplayName;  // the name the window would list ("COM3", "USB-000", ...)
  PortSettings Settings;    // the template with the fields of this port set
  std::string DevicePath;   // serial:PATH off Windows: the tty to open
  std::string HostName;     // net:HOST by name: IpAddress is set once it is resolved
};

// Two exchanges with the same key would reach the same device (or, on Windows, the
// same system-wide DOS name a kind defines), so they never run at once.
std::string DeviceKey(const PortSpec& spec);

// Builds the entry for a PORT argument on top of `templateSettings` (the window's
// current record). False with a message in `error` for anything that is not one of
// the forms; nothing is guessed.
//   com<N>[:<speed>[:<parity>]]  N 1..255, speed 2400..115200 (default 9600),
//                                parity none|odd|even (default none)
//   lpt<N>                       N 1..9
//   usb-<N>                      vendor USB driver device N (0..126)
//   usbprn-<N>                   USB printer-class device N (0..126)
//   serial:<path>[:<speed>[:<parity>]]  a tty off Windows (a bare name is under /dev);
//                                on Windows serial:COM<N>... is com<N>...
//   net:<a.b.c.d> | net:<host>   networked printer (a host name is resolved later)
//   service:<N>                  port-service port PVDPRT<N> (0..999)
bool ParsePort(const std::string& text, const PortSettings& templateSettings, PortSpec& spec, std::string& error);

// MODEL: QX-K40VII, QX-K40VI or QX-K40V (letters in any case). `value` gets the byte
// Set writes, `name` the canonical name.
bool ParseModel(const std::string& text, std::uint8_t& value, std::string& name, std::string& error);

// How many exchanges a fleet runs at once unless -j says otherwise.
inline constexpr int DefaultJobs = 8;
inline constexpr int MaxJobs = 256;

struct CommandLine {
  Command Verb = Command::None;
  std::vector<std::string> PortTexts;
  std::string ModelText;
  std::string PortsFrom;  // --ports-from FILE ("-": standard input); empty when absent
  int Jobs = DefaultJobs;
  bool Json = false;
  bool StopServices = false;
  bool NoSearch = false;  // list: skip the network search
  // Several ports, or a list of them: one labelled line per port.
  bool Fleet() const { return PortTexts.size() > 1 || !PortsFrom.empty(); }
};

// The PORTs of a --ports-from list: one per line, blanks around it ignored, "#" starts
// a comment, empty lines skipped.
std::vector<std::string> ReadPortList(std::istream& in);

// False with a message for an unknown command or option or a wrong number of
// arguments. Options may stand anywhere; "--" ends them.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

std::string UsageText();

// Serial speeds offered by the Add Port dialog; BaudCode = index + 1.
inline constexpr int SerialSpeeds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};

}  // namespace qx::cli
