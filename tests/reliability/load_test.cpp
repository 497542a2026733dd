// Load: a soak of 1000 Get exchanges on the vendor USB kind against the simulated
// printer, with no growth of the process's handles or memory and none of the driver's
// handles left open; and queued writes on both USB kinds, where every byte an
// asynchronous Write accepted reaches the printer exactly once, in order, through
// short device writes, driver time-outs and failed writes.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "process_resources.h"
#include "support/exchange_rigs.h"

namespace qx {
namespace {

using test::SimUsbPrintDriver;
using test::SimVendorUsbDriver;

TEST(ReliabilitySoak, AThousandGetsLeaveNoHandlesOrMemoryBehind) {
  test::UsbRig rig{test::UsbRig::VendorItem};
  MainWindowLogic logic{rig.table, rig.host};
  logic.CreatePorts(nullptr);
  rig.Select(logic);

  int succeeded = 0;
  auto runGets = [&](int count) {
    for (int i = 0; i < count; ++i) {
      rig.host.events.clear();
      logic.GetButtonClick();
      if (rig.host.Boxes() == std::vector<std::string>{test::BoxLine(MessageGetSucceeded)}) {
        ++succeeded;
      }
      // The simulated printer and driver keep records of their own; they are not the
      // utility's.
      rig.engine.ClearLog();
      rig.vendor.ClearLog();
      rig.vendor.Change(0, [](test::VendorDevice& d) {
        d.ReadSizes.clear();
        d.ReadSizes.shrink_to_fit();
      });
    }
  };
  // Warm up first: allocators and the sanitizers' own tables settle.
  runGets(100);
  const long handlesBefore = test::OpenHandleCount();
  const std::size_t memoryBefore = test::HeapBytes();
  runGets(1000);
  const long handlesAfter = test::OpenHandleCount();
  const std::size_t memoryAfter = test::HeapBytes();

  EXPECT_EQ(succeeded, 1100);
  EXPECT_EQ(rig.vendor.OpenHandles(), 0);
  ASSERT_GT(handlesBefore, 0);
  EXPECT_LE(handlesAfter, handlesBefore);
  // A leak of 64 bytes per exchange would show; the working set under Windows moves
  // by pages, hence the larger allowance there.
  EXPECT_LT(memoryAfter, memoryBefore + test::HeapAllowance)
      << "memory " << memoryBefore << " -> " << memoryAfter << " bytes";
  logic.DestroyPorts();
}

// The printer-class kind's driver completes writes and reads after some polls; its
// workers poll on a fake clock whose sleeps also yield.
class ReliabilityQueuedWrites : public ::testing::Test {
 protected:
  sim::FakeClock time{0, sim::FakeClock::PauseOnSleep};
  Clock& clock{time};
  sim::PrinterEngine engine{clock};

  // Writes `total` bytes in chunks of varying sizes, each retried while the queue is
  // full, through `port` opened asynchronously on `driver` (changed by `change` once
  // open); then every accepted byte must reach the printer once, in order.
  void ExpectEveryAcceptedByteArrivesOnce(TQXCCC& port, test::SimulatedDriver& driver, PortSettings s, int total,
                                          const std::function<void()>& change) {
    s.SyncMode = 0;
    s.WriteTimeoutConstant = 2000;
    ASSERT_EQ(port.Configure(&s), 1);
    ASSERT_EQ(port.Open(), 1);
    change();
    std::string accepted;
    int chunk = 1;
    const auto end = SteadyMilliseconds() + 20000;
    while (static_cast<int>(accepted.size()) < total && SteadyMilliseconds() < end) {
      std::string data;
      for (int i = 0; i < chunk; ++i) data.push_back(static_cast<char>('A' + (accepted.size() + i) % 26));
      int written = -1;
      if (port.Write(chunk % 7, data.data(), chunk, &written) == 1) {
        EXPECT_EQ(written, chunk);
        accepted += data;
        chunk = chunk * 3 % 1500 + 1;
      } else {
        EXPECT_EQ(written, 0);
        time.SleepMilliseconds(1);
      }
    }
    ASSERT_GE(accepted.size(), static_cast<std::size_t>(total));
    ASSERT_TRUE(test::WaitUntil(
        [&] { return port.GetOutputPending() == 0 && engine.HostBytes().size() >= accepted.size(); }));
    SleepMilliseconds(20);  // nothing more may follow
    EXPECT_TRUE(engine.HostBytes() == accepted) << engine.HostBytes().size() << " bytes arrived";
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(driver.OpenHandles(), 0);
  }
};

TEST_F(ReliabilityQueuedWrites, VendorDriverEveryAcceptedByteArrivesOnce) {
  SimVendorUsbDriver driver{time, engine};
  driver.AddDevice(0);
  TQXUSB port{KindVendorUsb, driver};
  const PortSettings s{.PortType = KindVendorUsb, .ReadTimeoutConstant = 10};
  ExpectEveryAcceptedByteArrivesOnce(port, driver, s, 40000, [&] {
    driver.Change(0, [](test::VendorDevice& d) {
      d.MaxPerWrite = 300;
      d.SemTimeoutWrites = 5;
      d.SemTransferred = 17;
      d.FailWrites = 3;
    });
  });
}

TEST_F(ReliabilityQueuedWrites, PrinterClassEveryAcceptedByteArrivesOnce) {
  SimUsbPrintDriver driver{time, engine};
  driver.AddPrinter();
  TQXUSBPRN port{KindUsbPrinter, driver};
  const PortSettings s{.PortType = KindUsbPrinter, .ReadTimeoutMultiplier = 50, .ReadTimeoutConstant = 100};
  ExpectEveryAcceptedByteArrivesOnce(port, driver, s, 20000, [&] {
    driver.Change(0, [](test::UsbPrinter& p) {
      p.WritePolls = 2;
      p.StallWrites = 2;  // told, counted, reset and sent again
    });
  });
}

}  // namespace
}  // namespace qx
