// What every kind of the program's port table promises on a port that is not open:
// transfers move nothing and set their counts to 0 (also for empty requests, and
// without a count), nothing is pending or available, and Close returns at once, as
// often as it is called. Natively the kinds that need Windows are their placeholders.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "port/port_settings.h"
#include "port/standard_ports.h"

namespace qx {
namespace {

class ClosedPortContract : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<TQXCCC> port = CreateStandardPort(GetParam());
};

TEST_P(ClosedPortContract, TransfersAreRefusedWithTheirCountsSet) {
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->IsOpen(), 0);
  char byte = 'x';
  for (const int length : {1, 0}) {
    int count = 9;
    EXPECT_EQ(port->Write(0, &byte, length, &count), 0) << "length " << length;
    EXPECT_EQ(count, 0);
    count = 9;
    const int read = port->Read(&byte, length, &count);
    // The port-service kind's Read reports 1 whatever it took.
    if (GetParam() != KindPortService) EXPECT_EQ(read, 0) << "length " << length;
    EXPECT_EQ(count, 0);
    EXPECT_EQ(port->Write(0, &byte, length, nullptr), 0);
    port->Read(&byte, length, nullptr);
  }
  int count = 9;
  EXPECT_EQ(port->Write(0, nullptr, 1, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(port->GetOutputPending(), 0);
  EXPECT_EQ(port->GetInputAvailable(), 0);
}

TEST_P(ClosedPortContract, CloseReturnsAtOnceEveryTime) {
  ASSERT_NE(port, nullptr);
  const auto start = std::chrono::steady_clock::now();
  // 1 for every kind but the port-service kind without its library (0: it could not
  // close cleanly).
  for (int i = 0; i < 2; ++i) {
    const int result = port->Close();
    if (GetParam() != KindPortService) EXPECT_EQ(result, 1);
  }
  // No pause and no stop sequence for a port that is not open.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_EQ(port->IsOpen(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ClosedPortContract,
                         ::testing::Values(KindSerial, KindParallel, KindVendorUsb, KindNetwork, KindUsbPrinter,
                                           KindPortService),
                         [](const ::testing::TestParamInfo<int>& info) { return "Kind" + std::to_string(info.param); });

}  // namespace
}  // namespace qx
