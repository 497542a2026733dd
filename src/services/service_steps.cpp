#include "services/service_steps.h"

namespace qx {

ServiceSteps::~ServiceSteps() {
  if (stopped_) StartServicesAtExit();
}

void ServiceSteps::StopServicesAtStart() {
  if (stopped_) return;
  stopped_ = true;
  spoolerTree_ = std::make_unique<CServiceControl>(system_, SpoolerServiceName);
  spoolerTree_->StopTree();
  for (int index : VendorStopOrder) ChangeServiceState(ServiceModeStop, VendorServices[index]);
}

void ServiceSteps::StartServicesAtExit() {
  if (started_) return;
  started_ = true;
  for (int index : VendorStartOrder) ChangeServiceState(ServiceModeStart, VendorServices[index]);
  if (spoolerTree_) {
    spoolerTree_->StartTree();
    spoolerTree_.reset();
  }
}

}  // namespace qx
