#pragma once

// qxmodel without its process: runs one command line through the main window's own
// logic, each exchange over a port table of its own, writing the results to `Out` and
// the messages to `Err`. The program binds the environment to the real port kinds,
// SetupAPI, the network search and the Service Control Manager; tests bind it to
// simulated ones.

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_args.h"
#include "port/port_table.h"
#include "services/service_system.h"

namespace qx::cli {

struct UsbDeviceEntry {
  std::string Port;  // the PORT argument that reaches it: usb-000, usbprn-000
  std::string Name;  // the window's display name
  std::string Path;  // the device interface path (may be empty)
};

// Device information as label/value pairs, in the order shown.
using InfoFields = std::vector<std::pair<std::string, std::string>>;

// A run that has stopped services, as the platform's interrupt handling sees it.
class InterruptTarget {
 public:
  virtual ~InterruptTarget() = default;
  // Called on a thread of its own when the process is told to end (`reason`: "Ctrl-C",
  // "SIGTERM", ...): stops stopping, starts again what the run stopped, reports, and
  // returns the exit code the process must end with now. -1 when the run has already
  // reported and is ending by itself.
  virtual int Interrupt(const std::string& reason) = 0;
};

// Builds the port object of one kind for an exchange on the port `spec` names (null:
// the table has no port of that kind). Called on the exchange's own thread.
using PortMaker = std::function<std::unique_ptr<TQXCCC>(int kind, const PortSpec& spec)>;

struct Environment {
  Environment(PortMaker ports, std::ostream& out, std::ostream& err) : Ports(std::move(ports)), Out(out), Err(err) {}

  PortMaker Ports;
  std::ostream& Out;
  std::ostream& Err;
  // --ports-from -
  std::istream* In = nullptr;
  bool ErrIsTerminal = false;
  // Long waits pass at once (tests against a printer that restarts in a moment).
  bool FastWaits = false;
  std::string Version;

  // The USB devices present; empty function when the build has no USB access.
  std::function<std::vector<UsbDeviceEntry>()> ListUsbDevices;
  // Broadcasts the network search and collects the answering printers' addresses for
  // `waitMs`; false with a reason when no search could be made. Empty function when
  // the build has no network search.
  std::function<bool(int waitMs, std::vector<std::string>& addresses, std::string& error)> SearchNetwork;
  // The network kind's identification of the printer the port is configured for;
  // false when none came. Empty function when nothing binds it (tests).
  std::function<bool(TQXCCC& port, InfoFields& fields)> NetworkInfo;
  // Writes the diagnostic listing of a kind that lists to standard output, and gives
  // back what it wrote. Defaults to capturing the process's standard output.
  std::function<std::string(TQXCCC& port)> Listing;
  // net:HOST: the host's IPv4 address, asked once per name and run; false with the
  // reason. Empty function: names are not resolved here.
  std::function<bool(const std::string& name, std::uint8_t (&address)[4], std::string& error)> ResolveHost;
  // Null when the services cannot be controlled here (--stop-services is refused).
  ServiceSystem* Services = nullptr;
  // Called with the run before it stops any service or starts a fleet, and with null
  // once it has reported: from then to then, the ways the process can be told to end
  // call the run's Interrupt and end the process with its code. Empty: nothing is watched.
  std::function<void(InterruptTarget*)> WatchInterrupts;
};

// Runs the command line (without the program name); returns the exit code.
int RunQxModel(const std::vector<std::string>& args, Environment& env);

// How long `list` waits for answers to its search.
inline constexpr int SearchWaitMs = 3000;

}  // namespace qx::cli
