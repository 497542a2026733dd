#include "services/service_steps.h"

#include <algorithm>

namespace qx {

namespace {

// The spooler tree's services that StopTree stopped, in the order it stopped them.
void CollectStopped(const CServiceControl& node, std::vector<std::string>& names) {
  for (const auto& dependent : node.Dependents()) CollectStopped(*dependent, names);
  if (node.StoppedHere()) names.push_back(ServiceNameText(node.ServiceName()));
}

// A machine without a spooler at all: nothing to stop or start, and nothing to say.
bool NoSpooler(const CServiceControl& tree, int result) {
  return result == static_cast<int>(ErrorServiceDoesNotExist) && tree.FailedService() == tree.ServiceName();
}

}  // namespace

std::string ServiceNameText(const std::wstring& name) {
  std::string text;
  for (wchar_t c : name) text.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
  return text;
}

ServiceSteps::~ServiceSteps() { StartServicesAtExit(); }

void ServiceSteps::Note(const std::string& service, bool stopping, int code) {
  problems_.push_back({service, stopping, code});
}

void ServiceSteps::StopServicesAtStart() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_ || started_ || cancelled_) return;
  stopped_ = true;
  spoolerTree_ = std::make_unique<CServiceControl>(system_, SpoolerServiceName);
  const int tree = spoolerTree_->StopTree();
  if (tree != 0 && !NoSpooler(*spoolerTree_, tree)) Note(ServiceNameText(spoolerTree_->FailedService()), true, tree);
  CollectStopped(*spoolerTree_, stoppedNames_);
  for (int index : VendorStopOrder) {
    if (cancelled_) return;
    const std::string name = VendorServices[index];
    const ServiceChange change = ChangeServiceStateReported(system_, ServiceModeStop, name);
    if (change.RequestSent) {
      stoppedVendors_.push_back(name);
      stoppedNames_.push_back(name);
    }
    if (change.Result == 0 && change.Installed) Note(name, true, change.Error);
  }
}

void ServiceSteps::StartServicesAtExit() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) return;
  started_ = true;
  if (!stopped_) return;
  StartVendorServices();
  StartSpoolerTree();
}

void ServiceSteps::StartServicesWithoutStopping() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rule_ != ExitRule::StartTheSet || stopped_ || started_) return;
    stopped_ = true;
    spoolerTree_ = std::make_unique<CServiceControl>(system_, SpoolerServiceName);
  }
  StartServicesAtExit();
}

void ServiceSteps::StartVendorServices() {
  for (int index : VendorStartOrder) {
    const std::string name = VendorServices[index];
    const bool stoppedHere = std::find(stoppedVendors_.begin(), stoppedVendors_.end(), name) != stoppedVendors_.end();
    if (rule_ == ExitRule::RestartWhatWasStopped && !stoppedHere) continue;
    const ServiceChange change = ChangeServiceStateReported(system_, ServiceModeStart, name);
    if (change.Result == 0 && change.Installed) Note(name, false, change.Error);
  }
}

void ServiceSteps::StartSpoolerTree() {
  if (!spoolerTree_) return;
  if (rule_ == ExitRule::StartTheSet) {
    const int result = spoolerTree_->StartTree();
    if (result != 0 && !NoSpooler(*spoolerTree_, result)) {
      Note(ServiceNameText(spoolerTree_->FailedService()), false, result);
    }
  } else {
    std::vector<CServiceControl::Failure> failures;
    spoolerTree_->RestartStopped(failures);
    for (const auto& failure : failures) Note(ServiceNameText(failure.Service), false, failure.Code);
  }
  spoolerTree_.reset();
}

std::vector<std::string> ServiceSteps::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stoppedNames_;
}

std::vector<ServiceProblem> ServiceSteps::Problems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problems_;
}

}  // namespace qx
