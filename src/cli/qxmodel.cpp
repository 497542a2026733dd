#include "cli/qxmodel.h"

#include <exception>
#include <memory>
#include <mutex>

#include "app/main_window_logic.h"
#include "cli/cli_args.h"
#include "cli/console_host.h"
#include "cli/json.h"
#include "cli/stdout_capture.h"
#include "port/serial/serial_rules.h"
#include "services/service_list.h"
#include "services/service_steps.h"

namespace qx::cli {

namespace {

const char* CommandName(Command verb) {
  switch (verb) {
    case Command::Get: return "get";
    case Command::Set: return "set";
    case Command::Print: return "print";
    case Command::List: return "list";
    case Command::Info: return "info";
    case Command::Services: return "services";
    case Command::ServicesStart: return "services start";
    case Command::Help: return "help";
    case Command::Version: return "version";
    case Command::None: break;
  }
  return "";
}

// What an operator can do about the usual codes.
std::string ServiceErrorText(int code) {
  switch (code) {
    case 5: return "access denied: run as an administrator";
    case 1053:
    case 1460: return "it did not finish in time";
    case 1056: return "it went back to running";
    case 1058: return "it is disabled";
    case 1061: return "it is busy changing state";
    case 1062: return "it stopped again";
    default: return "error";
  }
}

std::string ProblemLine(const ServiceProblem& problem) {
  return "service " + problem.Service + " could not be " + (problem.Stopping ? "stopped" : "started again") +
         " (" + ServiceErrorText(problem.Code) + ", code " + std::to_string(problem.Code) + ")";
}

std::string FailedJson(const std::vector<ServiceProblem>& problems) {
  std::vector<std::string> failed;
  for (const ServiceProblem& p : problems) {
    failed.push_back(
        JsonObject().Add("service", p.Service).Add("action", p.Stopping ? "stop" : "start").Add("code", p.Code).Text());
  }
  return JsonArray(failed);
}

// "services": what the run stopped and what failed.
std::string ServicesJson(const std::vector<std::string>& stopped, const std::vector<ServiceProblem>& problems) {
  std::vector<std::string> names;
  for (const std::string& name : stopped) names.push_back(JsonString(name));
  return JsonObject().AddRaw("stopped", JsonArray(names)).AddRaw("failed", FailedJson(problems)).Text();
}

std::string MessagesJson(const ConsoleHost& host) {
  std::vector<std::string> items;
  for (const ShownMessage& m : host.Messages()) {
    items.push_back(JsonObject().Add("title", m.Title).Add("text", m.Text).Text());
  }
  return JsonArray(items);
}

// One run of a command: the host, the logic over the port table, and the result.
class Run final : public InterruptTarget {
 public:
  Run(Environment& env, const CommandLine& line)
      : env_(env), line_(line), host_(env.Err, env.ErrIsTerminal, env.FastWaits), logic_(env.Ports, host_) {
    result_.Add("command", CommandName(line.Verb));
  }

  int Execute() {
    if (line_.Verb == Command::Services) return Finish(ListServiceStates());
    if (line_.Verb == Command::ServicesStart) return Finish(StartServices());
    if (line_.StopServices) {
      services_ = std::make_unique<ServiceSteps>(*env_.Services, ExitRule::RestartWhatWasStopped);
      if (env_.WatchInterrupts) env_.WatchInterrupts(this);
      services_->StopServicesAtStart();
    }
    int code = ExitFailed;
    // Whatever goes wrong, the ports go and the services come back before the end.
    try {
      code = line_.Verb == Command::List ? List() : WithPort();
    } catch (const std::exception& e) {
      host_.Note(std::string("internal error: ") + e.what());
    } catch (...) {
      host_.Note("internal error");
    }
    logic_.DestroyPorts();
    code = Finish(code);
    if (services_ && env_.WatchInterrupts) env_.WatchInterrupts(nullptr);
    return code;
  }

  int Interrupt(const std::string& reason) override {
    services_->CancelStopping();
    std::lock_guard<std::mutex> lock(finishing_);
    if (finished_) return -1;
    finished_ = true;
    services_->StartServicesAtExit();
    // The main thread may be anywhere in its exchange: this report uses nothing of it
    // but what was settled before the services were stopped.
    const std::vector<ServiceProblem> problems = services_->Problems();
    env_.Err << "qxmodel: interrupted (" << reason << "); the services it stopped were started again\n";
    for (const ServiceProblem& problem : problems) env_.Err << "qxmodel: " << ProblemLine(problem) << '\n';
    env_.Err.flush();
    const int code = problems.empty() ? ExitInterrupted : ExitServices;
    if (line_.Json) {
      JsonObject result;
      result.Add("command", CommandName(line_.Verb));
      if (line_.Verb != Command::List) result.Add("port", line_.PortText).Add("name", spec_.DisplayName);
      if (line_.Verb == Command::Set) result.Add("requested", modelName_);
      result.Add("interrupted", reason).AddRaw("services", ServicesJson(services_->Stopped(), problems));
      env_.Out << result.Add("ok", false).Add("exit", code).Text() << '\n';
    }
    env_.Out.flush();
    return code;
  }

  // A command line that cannot run: the reason and exit code 2.
  int Refuse(const std::string& error) {
    host_.Note(error);
    if (!line_.Json) env_.Err << "Try \"qxmodel --help\".\n";
    result_.Add("error", error);
    return Finish(ExitUsage);
  }

 private:
  // Starts the services again (when this run stopped any), reports them, then writes
  // the result; once, and not at all after an interrupt did.
  int Finish(int code) {
    std::lock_guard<std::mutex> lock(finishing_);
    if (finished_) return ExitInterrupted;
    finished_ = true;
    if (services_) {
      services_->StartServicesAtExit();
      code = ReportServices(services_->Stopped(), services_->Problems(), code);
    }
    if (line_.Json) {
      result_.Add("ok", code == ExitSuccess).Add("exit", code).AddRaw("messages", MessagesJson(host_));
      env_.Out << result_.Text() << '\n';
    }
    env_.Out.flush();
    return code;
  }

  int ReportServices(const std::vector<std::string>& stopped, const std::vector<ServiceProblem>& problems, int code) {
    for (const ServiceProblem& problem : problems) host_.Note(ProblemLine(problem));
    result_.AddRaw("services", ServicesJson(stopped, problems));
    return problems.empty() ? code : ExitServices;
  }

  int ListServiceStates() {
    std::vector<std::string> items;
    for (const ServiceListing& listing : ListServices(*env_.Services)) {
      const std::string state = ServiceStateText(listing);
      items.push_back(JsonObject().Add("service", listing.Service).Add("state", state).Add("role", listing.Role).Text());
      if (!line_.Json) env_.Out << listing.Service << '\t' << state << '\t' << listing.Role << '\n';
    }
    result_.AddRaw("services", JsonArray(items));
    return ExitSuccess;
  }

  // As the window at exit, then the states they ended in.
  int StartServices() {
    ServiceSteps steps(*env_.Services, ExitRule::StartTheSet);
    steps.StartServicesWithoutStopping();
    const std::vector<ServiceProblem> problems = steps.Problems();
    for (const ServiceProblem& problem : problems) host_.Note(ProblemLine(problem));
    result_.AddRaw("failed", FailedJson(problems));
    ListServiceStates();
    return problems.empty() ? ExitSuccess : ExitServices;
  }

  int WithPort() {
    logic_.CreatePorts(nullptr);
    logic_.AddPortEntry(spec_.DisplayName, spec_.Settings);
    logic_.PortComboBoxChange();
    int code = ExitFailed;
    switch (line_.Verb) {
      case Command::Get: code = Get(); break;
      case Command::Set: code = Set(); break;
      case Command::Print: code = Print(); break;
      case Command::Info: code = Info(); break;
      default: break;
    }
    logic_.DestroyPorts();
    return code;
  }

 public:
  // Checks PORT and MODEL before anything touches a port or a service.
  bool Prepare(std::string& error) {
    if (line_.StopServices && env_.Services == nullptr) {
      error = "--stop-services: there are no services to stop on this system";
      return false;
    }
    const bool servicesCommand = line_.Verb == Command::Services || line_.Verb == Command::ServicesStart;
    if (servicesCommand && env_.Services == nullptr) {
      error = "services: there are no services on this system";
      return false;
    }
    if (line_.Verb == Command::List || servicesCommand) return true;
    if (line_.Verb == Command::Set && !ParseModel(line_.ModelText, modelValue_, modelName_, error)) return false;
    if (!ParsePort(line_.PortText, DefaultPortSettings(), spec_, error)) return false;
    result_.Add("port", line_.PortText).Add("name", spec_.DisplayName);
    if (line_.Verb == Command::Set) result_.Add("requested", modelName_);
    return true;
  }

 private:
  int Get() {
    logic_.GetButtonClick();
    if (!host_.Succeeded()) return ExitFailed;
    Result("model", logic_.Label2());
    return ExitSuccess;
  }

  int Set() {
    host_.ChooseModel(modelValue_);
    logic_.SetButtonClick();
    if (!host_.Succeeded()) return ExitFailed;
    Result("model", logic_.Label2());
    // The window reports success on any confirmation; a script needs to know that
    // the printer now emulates the model it asked for.
    if (logic_.Label2() != modelName_) {
      host_.Note("the printer reports " + logic_.Label2() + ", not " + modelName_);
      return ExitFailed;
    }
    return ExitSuccess;
  }

  int Print() {
    logic_.PrintButtonClick();
    return host_.Succeeded() ? ExitSuccess : ExitFailed;
  }

  int Info() {
    const int type = spec_.Settings.PortType;
    logic_.ConfigurePortsForExchange();
    TQXCCC* port = env_.Ports.At(type);
    if (port == nullptr) {
      host_.ShowMessage(MessageCannotOpen, TitleError, MessageIcon::Error);
      return ExitFailed;
    }
    InfoFields fields;
    std::string listing;
    bool ok = true;
    switch (type) {
      case KindSerial:
      case KindVendorUsb:
        ok = DriverInfo(type, *port, fields);
        break;
      case KindNetwork:
        if (!env_.NetworkInfo) {
          host_.Note("this build has no network port");
          return ExitFailed;
        }
        ok = env_.NetworkInfo(*port, fields);
        if (!ok) host_.Note("no identification reply from " + spec_.DisplayName);
        break;
      case KindUsbPrinter:
      case KindPortService:
        listing = env_.Listing ? env_.Listing(*port)
                               : CaptureStandardOutput([port] { port->GetDeviceInfo(nullptr); });
        break;
      default:
        host_.Note("a parallel port gives no device information");
        return ExitFailed;
    }
    if (!ok) return ExitFailed;

    JsonObject info;
    for (const auto& [label, value] : fields) {
      info.Add(label, value);
      if (!line_.Json) env_.Out << label << ": " << value << '\n';
    }
    if (type == KindUsbPrinter || type == KindPortService) {
      info.Add("listing", listing);
      if (!line_.Json) env_.Out << listing;
    }
    result_.AddRaw("info", info.Text());
    return ExitSuccess;
  }

  // The serial and vendor USB kinds answer from the open device.
  bool DriverInfo(int type, TQXCCC& port, InfoFields& fields) {
    if (env_.Ports.Open(type) != 1) {
      host_.ShowMessage(MessageCannotOpen, TitleError, MessageIcon::Error);
      return false;
    }
    DeviceInfo record;
    port.GetDeviceInfo(&record);
    env_.Ports.Close(type);
    fields = {
        {"DeviceVersion", record.DeviceVersion}, {"DriverVersion", record.DriverVersion},
        {"SecondString", record.SecondString},   {"ThirdString", record.ThirdString},
        {"ExtraString", record.ExtraString},     {"StatusFlag", std::to_string(record.StatusFlag)},
        {"StatusCode", std::to_string(record.StatusCode)},
    };
    return true;
  }

  int List() {
    std::vector<std::string> usbJson;
    if (env_.ListUsbDevices) {
      for (const UsbDeviceEntry& device : env_.ListUsbDevices()) {
        usbJson.push_back(JsonObject().Add("port", device.Port).Add("name", device.Name).Add("path", device.Path).Text());
        if (!line_.Json) env_.Out << device.Port << "\t" << device.Name << "\t" << device.Path << '\n';
      }
    }
    result_.AddRaw("usb", JsonArray(usbJson));

    if (line_.NoSearch) {
      result_.AddRaw("network", "null");
      return ExitSuccess;
    }
    if (!env_.SearchNetwork) {
      host_.Note("this build has no network search");
      result_.AddRaw("network", "null");
      return ExitSuccess;
    }
    std::vector<std::string> addresses;
    std::string error;
    if (!env_.SearchNetwork(SearchWaitMs, addresses, error)) {
      host_.Note("network search failed: " + error);
      result_.AddRaw("network", "null");
      return ExitFailed;
    }
    std::vector<std::string> netJson;
    for (const std::string& address : addresses) {
      netJson.push_back(JsonObject().Add("port", "net:" + address).Add("address", address).Text());
      if (!line_.Json) env_.Out << "net:" << address << '\n';
    }
    result_.AddRaw("network", JsonArray(netJson));
    return ExitSuccess;
  }

  void Result(const std::string& key, const std::string& value) {
    result_.Add(key, value);
    if (!line_.Json) env_.Out << value << '\n';
  }

  Environment& env_;
  const CommandLine& line_;
  ConsoleHost host_;
  MainWindowLogic logic_;
  PortSpec spec_;
  std::uint8_t modelValue_ = 0;
  std::string modelName_;
  JsonObject result_;
  std::unique_ptr<ServiceSteps> services_;
  // Finish and Interrupt take turns; whichever comes first reports.
  std::mutex finishing_;
  bool finished_ = false;
};

}  // namespace

int RunQxModel(const std::vector<std::string>& args, Environment& env) {
  CommandLine line;
  std::string error;
  const bool parsed = ParseCommandLine(args, line, error);
  if (parsed && line.Verb == Command::Help) {
    env.Out << UsageText();
    return ExitSuccess;
  }
  if (parsed && line.Verb == Command::Version) {
    env.Out << "qxmodel " << env.Version << '\n';
    return ExitSuccess;
  }
  if (!parsed) {
    // --json may stand after the mistake; honour it all the same.
    for (const std::string& arg : args) line.Json = line.Json || arg == "--json";
  }
  Run run(env, line);
  if (!parsed || !run.Prepare(error)) return run.Refuse(error);
  return run.Execute();
}

}  // namespace qx::cli
