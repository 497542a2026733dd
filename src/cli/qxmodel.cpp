#include "cli/qxmodel.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "app/main_window_logic.h"
#include "cli/cli_args.h"
#include "cli/console_host.h"
#include "cli/job_runner.h"
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

// Two names of one tty (a symbolic link and its target) are one device.
std::string KeyOf(const PortSpec& spec) {
  if (spec.DevicePath.empty()) return DeviceKey(spec);
  std::error_code ignored;
  const std::filesystem::path real = std::filesystem::weakly_canonical(spec.DevicePath, ignored);
  PortSpec resolved = spec;
  if (!real.empty()) resolved.DevicePath = real.string();
  return DeviceKey(resolved);
}

// What one port's exchange came to.
struct Outcome {
  int Code = ExitFailed;
  std::string Model;   // Get and Set: the model the printer reports
  std::string Error;   // the reason it failed, as one line
  JsonObject Fields;   // command, port, name, requested, model or info, error
  std::string Messages = "[]";  // the message boxes shown, as JSON
};

// One exchange: its own port table (so that exchanges of a fleet share nothing), the
// main window's logic over it and a console host.
class Exchange {
 public:
  Exchange(Environment& env, const CommandLine& line, const PortSpec& spec, std::ostream& err, bool terminal)
      : env_(env),
        line_(line),
        spec_(spec),
        table_([&env, &spec](int kind) { return env.Ports ? env.Ports(kind, spec) : nullptr; }),
        host_(err, terminal, env.FastWaits),
        logic_(table_, host_) {}

  Outcome Run(const std::string& portText, std::uint8_t modelValue, const std::string& modelName) {
    outcome_.Fields.Add("command", CommandName(line_.Verb)).Add("port", portText).Add("name", spec_.DisplayName);
    if (line_.Verb == Command::Set) outcome_.Fields.Add("requested", modelName);
    // Whatever goes wrong, the ports go before the end.
    try {
      logic_.CreatePorts(nullptr);
      logic_.AddPortEntry(spec_.DisplayName, spec_.Settings);
      logic_.PortComboBoxChange();
      switch (line_.Verb) {
        case Command::Get: outcome_.Code = Get(); break;
        case Command::Set: outcome_.Code = Set(modelValue, modelName); break;
        case Command::Print: outcome_.Code = Print(); break;
        case Command::Info: outcome_.Code = Info(); break;
        default: break;
      }
    } catch (const std::exception& e) {
      outcome_.Code = Fail(std::string("internal error: ") + e.what());
    } catch (...) {
      outcome_.Code = Fail("internal error");
    }
    logic_.DestroyPorts();
    if (outcome_.Code != ExitSuccess && outcome_.Error.empty() && !host_.Messages().empty()) {
      outcome_.Error = host_.Messages().back().Text;
    }
    outcome_.Messages = MessagesJson(host_);
    return std::move(outcome_);
  }

 private:
  int Fail(const std::string& reason) {
    host_.Note(reason);
    outcome_.Error = reason;
    return ExitFailed;
  }

  int Get() {
    logic_.GetButtonClick();
    if (!host_.Succeeded()) return ExitFailed;
    Result("model", logic_.Label2());
    return ExitSuccess;
  }

  int Set(std::uint8_t modelValue, const std::string& modelName) {
    host_.ChooseModel(modelValue);
    logic_.SetButtonClick();
    if (!host_.Succeeded()) return ExitFailed;
    Result("model", logic_.Label2());
    // The window reports success on any confirmation; a script needs to know that
    // the printer now emulates the model it asked for.
    if (logic_.Label2() != modelName) return Fail("the printer reports " + logic_.Label2() + ", not " + modelName);
    return ExitSuccess;
  }

  int Print() {
    logic_.PrintButtonClick();
    return host_.Succeeded() ? ExitSuccess : ExitFailed;
  }

  int Info() {
    const int type = spec_.Settings.PortType;
    logic_.ConfigurePortsForExchange();
    TQXCCC* port = table_.At(type);
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
        if (!env_.NetworkInfo) return Fail("this build has no network port");
        ok = env_.NetworkInfo(*port, fields);
        if (!ok) return Fail("no identification reply from " + spec_.DisplayName);
        break;
      case KindUsbPrinter:
      case KindPortService:
        listing = env_.Listing ? env_.Listing(*port)
                               : CaptureStandardOutput([port] { port->GetDeviceInfo(nullptr); });
        break;
      default:
        return Fail("a parallel port gives no device information");
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
    outcome_.Fields.AddRaw("info", info.Text());
    return ExitSuccess;
  }

  // The serial and vendor USB kinds answer from the open device.
  bool DriverInfo(int type, TQXCCC& port, InfoFields& fields) {
    if (table_.Open(type) != 1) {
      host_.ShowMessage(MessageCannotOpen, TitleError, MessageIcon::Error);
      return false;
    }
    DeviceInfo record;
    port.GetDeviceInfo(&record);
    table_.Close(type);
    fields = {
        {"DeviceVersion", record.DeviceVersion}, {"DriverVersion", record.DriverVersion},
        {"SecondString", record.SecondString},   {"ThirdString", record.ThirdString},
        {"ExtraString", record.ExtraString},     {"StatusFlag", std::to_string(record.StatusFlag)},
        {"StatusCode", std::to_string(record.StatusCode)},
    };
    return true;
  }

  void Result(const std::string& key, const std::string& value) {
    outcome_.Fields.Add(key, value);
    outcome_.Model = value;
  }

  Environment& env_;
  const CommandLine& line_;
  const PortSpec& spec_;
  PortTable table_;
  ConsoleHost host_;
  MainWindowLogic logic_;
  Outcome outcome_;
};

// One run of a command line: its ports, the services it stops, the exchanges and the
// report.
class Run final : public InterruptTarget {
 public:
  Run(Environment& env, const CommandLine& line) : env_(env), line_(line) {
    result_.Add("command", CommandName(line.Verb));
  }

  int Execute() {
    if (line_.Verb == Command::Services) return Finish(ListServiceStates());
    if (line_.Verb == Command::ServicesStart) return Finish(StartServices());
    if (line_.StopServices) services_ = std::make_unique<ServiceSteps>(*env_.Services, ExitRule::RestartWhatWasStopped);
    // Watched before any thread of the run starts: on POSIX they inherit the signal block.
    const bool watch = env_.WatchInterrupts && (services_ || line_.Fleet());
    if (watch) env_.WatchInterrupts(this);
    if (services_) services_->StopServicesAtStart();
    int code = ExitFailed;
    // Whatever goes wrong, the services come back before the end.
    try {
      code = line_.Verb == Command::List ? List() : line_.Fleet() ? Fleet() : Single();
    } catch (const std::exception& e) {
      Note(std::string("internal error: ") + e.what());
    } catch (...) {
      Note("internal error");
    }
    code = Finish(code);
    if (watch) env_.WatchInterrupts(nullptr);
    return code;
  }

  int Interrupt(const std::string& reason) override {
    // The console closed, logoff and shutdown leave the process seconds at most: no
    // waiting for anyone then.
    const bool canWait = reason == "Ctrl-C" || reason == "Ctrl-Break" || reason == "SIGINT" || reason == "SIGTERM";
    if (line_.Fleet() && canWait && !stopping_.exchange(true)) {
      // The first time: start nothing more, let the running exchanges end (a Set that
      // has written its model waits for the printer and confirms), then report.
      if (services_) services_->CancelStopping();
      std::lock_guard<std::mutex> lock(output_);
      env_.Err << "qxmodel: interrupted (" << reason << "); waiting for the running exchanges to end\n";
      env_.Err.flush();
      return -1;
    }
    if (services_) services_->CancelStopping();
    std::lock_guard<std::mutex> lock(finishing_);
    if (finished_) return -1;
    std::vector<ServiceProblem> problems;
    if (services_) {
      services_->StartServicesAtExit();
      // The main thread may be anywhere in its exchange: this report uses nothing of it
      // but what was settled before the services were stopped.
      problems = services_->Problems();
    }
    std::lock_guard<std::mutex> out(output_);
    finished_ = true;
    env_.Err << "qxmodel: interrupted (" << reason << ")"
             << (services_ ? "; the services it stopped were started again" : "") << '\n';
    for (const ServiceProblem& problem : problems) env_.Err << "qxmodel: " << ProblemLine(problem) << '\n';
    env_.Err.flush();
    const int code = problems.empty() ? ExitInterrupted : ExitServices;
    if (line_.Json) {
      JsonObject result;
      result.Add("command", CommandName(line_.Verb));
      if (line_.Verb != Command::List && !line_.Fleet()) {
        result.Add("port", line_.PortTexts.front()).Add("name", specs_.front().DisplayName);
      }
      if (line_.Verb == Command::Set) result.Add("requested", modelName_);
      result.Add("interrupted", reason);
      if (services_) result.AddRaw("services", ServicesJson(services_->Stopped(), problems));
      env_.Out << result.Add("ok", false).Add("exit", code).Text() << '\n';
    }
    env_.Out.flush();
    return code;
  }

  // A command line that cannot run: the reason and exit code 2.
  int Refuse(const std::string& error) {
    Note(error);
    if (!line_.Json) env_.Err << "Try \"qxmodel --help\".\n";
    result_.Add("error", error);
    return Finish(ExitUsage);
  }

  // Checks the PORTs and MODEL before anything touches a port or a service.
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
    if (!line_.PortsFrom.empty() && !ReadPorts(error)) return false;
    if (ports_.empty()) {
      error = "--ports-from " + line_.PortsFrom + ": no PORT in it";
      return false;
    }
    for (const std::string& text : ports_) {
      PortSpec spec;
      if (!ParsePort(text, DefaultPortSettings(), spec, error)) return false;
      if (!spec.HostName.empty() && !env_.ResolveHost) {
        error = "bad network address \"" + spec.HostName + "\": this build resolves no host names";
        return false;
      }
      specs_.push_back(spec);
    }
    if (!line_.Fleet()) {
      result_.Add("port", ports_.front()).Add("name", specs_.front().DisplayName);
      if (line_.Verb == Command::Set) result_.Add("requested", modelName_);
    }
    return true;
  }

 private:
  bool ReadPorts(std::string& error) {
    ports_ = line_.PortTexts;
    std::vector<std::string> listed;
    if (line_.PortsFrom == "-") {
      if (env_.In == nullptr) {
        error = "--ports-from -: no standard input";
        return false;
      }
      listed = ReadPortList(*env_.In);
    } else {
      std::ifstream file(line_.PortsFrom);
      if (!file) {
        error = "--ports-from " + line_.PortsFrom + ": cannot read it";
        return false;
      }
      listed = ReadPortList(file);
    }
    ports_.insert(ports_.end(), listed.begin(), listed.end());
    return true;
  }

  // Names are looked up once per run, before the first exchange; false with the
  // reason when the name has no IPv4 address.
  bool Resolve(PortSpec& spec, std::string& error) {
    if (spec.HostName.empty()) return true;
    auto known = resolved_.find(spec.HostName);
    if (known == resolved_.end()) {
      Resolved answer;
      answer.Found = env_.ResolveHost(spec.HostName, answer.Address, answer.Error);
      known = resolved_.emplace(spec.HostName, answer).first;
    }
    if (!known->second.Found) {
      error = "cannot resolve host name \"" + spec.HostName + "\" to an IPv4 address (" + known->second.Error + ")";
      return false;
    }
    for (int i = 0; i < 4; ++i) spec.Settings.IpAddress[i] = known->second.Address[i];
    return true;
  }

  // One PORT as today's single runs do: the window's messages on standard error as
  // they come, the model on standard output, one JSON object.
  int Single() {
    PortSpec& spec = specs_.front();
    std::string error;
    if (!Resolve(spec, error)) {
      Note(error);
      result_.Add("error", error);
      return ExitFailed;
    }
    Exchange exchange(env_, line_, spec, env_.Err, env_.ErrIsTerminal);
    Outcome outcome = exchange.Run(ports_.front(), modelValue_, modelName_);
    result_ = std::move(outcome.Fields);
    messages_ = outcome.Messages;
    if (!line_.Json && !outcome.Model.empty()) env_.Out << outcome.Model << '\n';
    return outcome.Code;
  }

  // Several PORTs: up to -j exchanges at once, each reported as it ends.
  int Fleet() {
    std::vector<Outcome> outcomes(specs_.size());
    std::vector<std::string> keys;
    std::vector<bool> pending(specs_.size(), true);
    for (std::size_t i = 0; i < specs_.size(); ++i) {
      std::string error;
      if (!Resolve(specs_[i], error)) {
        outcomes[i] = Unrun(i, error);
        Report(i, outcomes[i]);
        pending[i] = false;
      }
      keys.push_back(KeyOf(specs_[i]));
    }
    std::vector<std::size_t> order;
    std::vector<std::string> pendingKeys;
    for (std::size_t i = 0; i < specs_.size(); ++i) {
      if (!pending[i]) continue;
      order.push_back(i);
      pendingKeys.push_back(keys[i]);
    }
    const std::vector<bool> ran = RunJobs(pendingKeys, line_.Jobs, [&](std::size_t job) {
      const std::size_t i = order[job];
      // Nothing of an exchange goes to the console as it runs: its line says it all.
      std::ostringstream quiet;
      Exchange exchange(env_, line_, specs_[i], quiet, false);
      outcomes[i] = exchange.Run(ports_[i], modelValue_, modelName_);
      Report(i, outcomes[i]);
    }, stopping_);

    int ok = 0, failed = 0, notRun = 0;
    for (std::size_t job = 0; job < order.size(); ++job) {
      if (ran[job]) continue;
      const std::size_t i = order[job];
      outcomes[i] = Unrun(i, "not run: interrupted");
      outcomes[i].Code = ExitInterrupted;
      Report(i, outcomes[i]);
      ++notRun;
    }
    for (const Outcome& outcome : outcomes) {
      if (outcome.Code == ExitSuccess) ++ok;
      if (outcome.Code == ExitFailed) ++failed;
    }
    std::lock_guard<std::mutex> lock(output_);
    env_.Err << ok << " ok, " << failed << " failed";
    if (notRun > 0) env_.Err << ", " << notRun << " not run";
    env_.Err << '\n';
    env_.Err.flush();
    if (notRun > 0) return ExitInterrupted;
    return failed > 0 ? ExitFailed : ExitSuccess;
  }

  // A port of the fleet that got no exchange.
  Outcome Unrun(std::size_t i, const std::string& error) {
    Outcome outcome;
    outcome.Fields.Add("command", CommandName(line_.Verb)).Add("port", ports_[i]).Add("name", specs_[i].DisplayName);
    if (line_.Verb == Command::Set) outcome.Fields.Add("requested", modelName_);
    outcome.Fields.Add("error", error);
    outcome.Error = error;
    return outcome;
  }

  // PORT<TAB>MODEL, PORT<TAB>ok (print) or PORT<TAB>error: MESSAGE; with --json the
  // port's object.
  void Report(std::size_t i, Outcome& outcome) {
    std::lock_guard<std::mutex> lock(output_);
    if (finished_) return;  // an interrupt has reported for the run and the process ends
    if (line_.Json) {
      env_.Out << outcome.Fields.Add("ok", outcome.Code == ExitSuccess)
                      .Add("exit", outcome.Code)
                      .AddRaw("messages", outcome.Messages)
                      .Text()
               << '\n';
    } else if (outcome.Code == ExitSuccess) {
      env_.Out << ports_[i] << '\t' << (outcome.Model.empty() ? "ok" : outcome.Model) << '\n';
    } else {
      env_.Out << ports_[i] << "\terror: " << outcome.Error << '\n';
    }
    env_.Out.flush();
  }

  void Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(output_);
    env_.Err << "qxmodel: " << text << '\n';
    env_.Err.flush();
  }

  // Starts the services again (when this run stopped any), reports them, then writes
  // the result; once, and not at all after an interrupt did.
  int Finish(int code) {
    std::lock_guard<std::mutex> lock(finishing_);
    if (finished_) return ExitInterrupted;
    if (services_) {
      services_->StartServicesAtExit();
      code = ReportServices(services_->Stopped(), services_->Problems(), code);
    }
    std::lock_guard<std::mutex> out(output_);
    finished_ = true;
    // A fleet and a listing report line by line (JSON Lines); a refusal still gets its object.
    const bool streamed = line_.Fleet() || line_.Verb == Command::List;
    if (line_.Json && (!streamed || code == ExitUsage)) {
      result_.Add("ok", code == ExitSuccess).Add("exit", code).AddRaw("messages", messages_);
      env_.Out << result_.Text() << '\n';
    }
    env_.Out.flush();
    return code;
  }

  int ReportServices(const std::vector<std::string>& stopped, const std::vector<ServiceProblem>& problems, int code) {
    for (const ServiceProblem& problem : problems) Note(ProblemLine(problem));
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
    for (const ServiceProblem& problem : problems) Note(ProblemLine(problem));
    result_.AddRaw("failed", FailedJson(problems));
    ListServiceStates();
    return problems.empty() ? ExitSuccess : ExitServices;
  }

  // One line per device found, PORT first; with --json one object per line whose
  // "port" can be given back as a PORT.
  int List() {
    if (env_.ListUsbDevices) {
      for (const UsbDeviceEntry& device : env_.ListUsbDevices()) {
        if (line_.Json) {
          env_.Out << JsonObject().Add("port", device.Port).Add("name", device.Name).Add("path", device.Path).Text();
        } else {
          env_.Out << device.Port << "\t" << device.Name << "\t" << device.Path;
        }
        env_.Out << '\n';
      }
    }
    if (line_.NoSearch) return ExitSuccess;
    if (!env_.SearchNetwork) {
      Note("this build has no network search");
      return ExitSuccess;
    }
    std::vector<std::string> addresses;
    std::string error;
    if (!env_.SearchNetwork(SearchWaitMs, addresses, error)) {
      Note("network search failed: " + error);
      return ExitFailed;
    }
    for (const std::string& address : addresses) {
      if (line_.Json) {
        env_.Out << JsonObject().Add("port", "net:" + address).Add("address", address).Text() << '\n';
      } else {
        env_.Out << "net:" << address << '\n';
      }
    }
    return ExitSuccess;
  }

  struct Resolved {
    bool Found = false;
    std::uint8_t Address[4] = {};
    std::string Error;
  };

  Environment& env_;
  const CommandLine& line_;
  std::vector<std::string> ports_ = line_.PortTexts;
  std::vector<PortSpec> specs_;
  std::map<std::string, Resolved> resolved_;
  std::uint8_t modelValue_ = 0;
  std::string modelName_;
  JsonObject result_;
  std::string messages_ = "[]";
  std::unique_ptr<ServiceSteps> services_;
  // Set by the first interrupt of a fleet: no exchange starts after it.
  std::atomic<bool> stopping_{false};
  // Finish and Interrupt take turns; whichever comes first reports.
  std::mutex finishing_;
  bool finished_ = false;  // under both locks; read under either
  // One line at a time on the two streams.
  std::mutex output_;
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
