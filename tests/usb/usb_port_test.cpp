// The vendor USB kind against the simulated vendor driver: channel choice and opening,
// the time-out block, synchronous and queued I/O, device information, status, the
// handshake bypass and the close after a removal. Time limits run on a fake clock.

#include "port/usb/usb_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/usb/simulated_usb.h"
#include "support/wait_until.h"

namespace qx {
namespace {

using test::SimVendorUsbDriver;
using test::VendorDevice;

PortSettings UsbSettings(int deviceNumber, int channel, int sync = 1) {
  PortSettings s;
  s.PortType = KindVendorUsb;
  s.SyncMode = sync;
  s.DeviceNumber = deviceNumber;
  s.Channel = channel;
  s.ReadTimeoutConstant = 10;
  s.WriteTimeoutConstant = 2000;
  return s;
}

std::vector<std::string> Opens(const SimVendorUsbDriver& driver) { return driver.Log({"open ", "lookup "}); }

int Count(const std::vector<std::string>& log, const std::string& line) {
  return static_cast<int>(std::count(log.begin(), log.end(), line));
}

class UsbPortTest : public ::testing::Test {
 protected:
  // Device 0 is there unless `device` says otherwise.
  explicit UsbPortTest(bool realPause = false, bool device = true)
      : time(0, realPause ? sim::FakeClock::PauseOnSleep : sim::FakeClock::Instant) {
    if (device) driver.AddDevice(0);
  }

  sim::FakeClock time;
  Clock& clock{time};
  sim::PrinterEngine engine{clock};
  SimVendorUsbDriver driver{time, engine};
  TQXUSB port{KindVendorUsb, driver};

  void Change(int number, const std::function<void(VendorDevice&)>& change) { driver.Change(number, change); }
  void OpenDevice(int number, int channel = 0, int sync = 1) {
    PortSettings s = UsbSettings(number, channel, sync);
    ASSERT_EQ(port.Configure(&s), 1);
    ASSERT_EQ(port.Open(), 1);
  }
  void TearDown() override { EXPECT_EQ(driver.BadCalls(), 0) << ::testing::PrintToString(driver.BadCallLog()); }
};

class UsbPortWithoutDeviceTest : public UsbPortTest {
 protected:
  UsbPortWithoutDeviceTest() : UsbPortTest(false, false) {}
};

TEST_F(UsbPortWithoutDeviceTest, ClosedPortDefaultsAndLimits) {
  EXPECT_EQ(port.Kind, KindVendorUsb);
  EXPECT_EQ(port.GetOutputBlockSize(), 1024);
  EXPECT_EQ(port.GetInputBlockSize(), 256);
  EXPECT_EQ(port.Timeouts, (DriverTimeouts{5, 50, 5, 2000}));
  EXPECT_EQ(port.SetSyncMode(3), 3);
  EXPECT_EQ(port.IsReady(), 0);
  EXPECT_EQ(port.SetHandshakeBypass(1), 0);
  EXPECT_EQ(port.CheckDevicePresent(), 0);
  EXPECT_FALSE(IsValidHandle(port.QxHandle()) || IsValidHandle(port.QdHandle()) || IsValidHandle(port.ActiveHandle()));
  EXPECT_EQ(port.Open(), 0);  // no device at all
}

TEST_F(UsbPortTest, DeviceNumbersAndTheTimeoutBlockAtOpen) {
  driver.AddDevice(7);
  OpenDevice(1000);
  EXPECT_EQ(port.DeviceNumber, 0);
  EXPECT_EQ(Opens(driver), (std::vector<std::string>{"open \\\\.\\QXUSB000\\QX flags 0x0"}));
  EXPECT_EQ(port.Close(), 1);
  EXPECT_GE(time.NowMilliseconds(), 100);  // the pause before closing

  driver.ClearLog();
  PortSettings s = UsbSettings(7, 0);
  s.ReadTimeoutMultiplier = 1;
  s.ReadTimeoutConstant = 2;
  s.WriteTimeoutMultiplier = 3;
  s.WriteTimeoutConstant = 4;
  port.Configure(&s);
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(port.Open(), 1);  // already open
  const auto log = driver.Log();
  EXPECT_EQ(Opens(driver), (std::vector<std::string>{"open \\\\.\\QXUSB007\\QX flags 0x0"}));
  EXPECT_EQ(Count(log, "ioctl 0x222010 in 16 out 0"), 1);
  EXPECT_EQ(driver.Get<DriverTimeouts>(7, [](const VendorDevice& d) { return d.Timeouts; }),
            (DriverTimeouts{1, 2, 3, 4}));
  EXPECT_EQ(port.ActiveHandle(), port.QxHandle());
  EXPECT_FALSE(IsValidHandle(port.QdHandle()));

  // Configure on the open port sends the block again.
  s.WriteTimeoutConstant = 99;
  EXPECT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(driver.Get<DriverTimeouts>(7, [](const VendorDevice& d) { return d.Timeouts; }).WriteConstant, 99u);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(driver.OpenHandles(), 0);
}

TEST_F(UsbPortTest, QdChannelAloneNeedsTheInterfaceLookup) {
  Change(0, [](VendorDevice& d) { d.HasInterface = false; });
  PortSettings s = UsbSettings(0, 1);
  port.Configure(&s);
  EXPECT_EQ(port.ChannelMode, 2);
  EXPECT_EQ(port.Open(), 0);  // QD opens by name, QX stays invalid, no interface
  EXPECT_EQ(Opens(driver),
            (std::vector<std::string>{"open \\\\.\\QXUSB000\\QD flags 0x0", "lookup 0"}));
  EXPECT_EQ(driver.OpenHandles(), 0);

  driver.ClearLog();
  Change(0, [](VendorDevice& d) { d.HasInterface = true; });
  ASSERT_EQ(port.Open(), 1);
  const std::string path = SimVendorUsbDriver::InterfacePathFor(0);
  EXPECT_EQ(Opens(driver), (std::vector<std::string>{"open \\\\.\\QXUSB000\\QD flags 0x0", "lookup 0",
                                                           "open " + path + "\\QD flags 0x80"}));
  EXPECT_EQ(port.UseQdChannel, 1);
  EXPECT_EQ(port.ActiveHandle(), port.QdHandle());
  EXPECT_FALSE(IsValidHandle(port.QxHandle()));
  EXPECT_EQ(driver.OpenHandles(), 1);  // the handle of the fixed name was released
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(driver.OpenHandles(), 0);
}

TEST_F(UsbPortTest, BothChannelsThenSwitchToQdWhileOpen) {
  OpenDevice(0, 2);
  EXPECT_EQ(port.ChannelMode, 0);
  EXPECT_TRUE(IsValidHandle(port.QxHandle()) && IsValidHandle(port.QdHandle()));
  EXPECT_EQ(port.ActiveHandle(), port.QxHandle());
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x222010 in 16 out 0"), 2);  // each channel

  PortSettings s = UsbSettings(0, 1);
  EXPECT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.ActiveHandle(), port.QdHandle());
  EXPECT_EQ(port.UseQdChannel, 1);
  s.Channel = 0;
  EXPECT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.ActiveHandle(), port.QxHandle());
  // Closing releases both channels, whatever the mode became.
  s.Channel = 1;
  port.Configure(&s);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(driver.OpenHandles(), 0);
  EXPECT_FALSE(IsValidHandle(port.QxHandle()) || IsValidHandle(port.QdHandle()));
}

TEST_F(UsbPortTest, InterfacePathsWhenTheFixedNamesAreMissing) {
  driver.AddDevice(3);
  Change(3, [](VendorDevice& d) { d.FixedNames = false; });
  // Device number 1 is the second vendor interface: device 3 here.
  OpenDevice(1, 2);
  const std::string path = SimVendorUsbDriver::InterfacePathFor(3);
  EXPECT_EQ(Opens(driver),
            (std::vector<std::string>{"open \\\\.\\QXUSB001\\QX flags 0x0", "open \\\\.\\QXUSB001\\QD flags 0x0",
                                      "lookup 1", "open " + path + "\\QX flags 0x80",
                                      "open " + path + "\\QD flags 0x80"}));
  EXPECT_EQ(port.Close(), 1);

  // An interface whose details cannot be read gives no names to open.
  Change(3, [](VendorDevice& d) { d.DetailFails = true; });
  driver.ClearLog();
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(Opens(driver).size(), 3u);
  EXPECT_EQ(driver.OpenHandles(), 0);
}

TEST_F(UsbPortTest, AChannelThatRefusesTheTimeoutsIsNotKept) {
  Change(0, [](VendorDevice& d) { d.RefuseTimeoutsOn = "QD"; });
  PortSettings s = UsbSettings(0, 2);
  port.Configure(&s);
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.IsOpen(), 0);
  EXPECT_EQ(driver.OpenHandles(), 0);
  s.Channel = 0;  // QX alone is fine
  port.Configure(&s);
  EXPECT_EQ(port.Open(), 1);
  // ...until Configure sends a block the open channel refuses.
  port.Close();
  Change(0, [](VendorDevice& d) { d.RefuseTimeoutsOn = "QX"; });
  EXPECT_EQ(port.Open(), 0);
}

TEST_F(UsbPortTest, SynchronousWrites) {
  OpenDevice(0);
  int written = -1;
  EXPECT_EQ(port.Write(0, "\x10\x14\x12\x00\x03", 5, &written), 1);
  EXPECT_EQ(written, 5);
  EXPECT_EQ(engine.HostBytes(), std::string("\x10\x14\x12\x00\x03", 5));

  // Failures other than the driver's time-out are retried every 10 ms.
  Change(0, [](VendorDevice& d) { d.FailWrites = 3; });
  driver.ClearLog();
  auto start = time.NowMilliseconds();
  EXPECT_EQ(port.Write(0, "abc", 3, &written), 1);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Count(driver.Log(), "write 3"), 4);
  EXPECT_EQ(time.NowMilliseconds() - start, 30);

  // ...until the write time-out, length x multiplier + constant, has passed.
  PortSettings s = UsbSettings(0, 0);
  s.WriteTimeoutMultiplier = 100;
  s.WriteTimeoutConstant = 200;
  port.Configure(&s);
  Change(0, [](VendorDevice& d) { d.FailWrites = 1000000; });
  driver.ClearLog();
  start = time.NowMilliseconds();
  written = -1;
  EXPECT_EQ(port.Write(0, "abc", 3, &written), 0);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(time.NowMilliseconds() - start, 500);
  EXPECT_EQ(Count(driver.Log(), "write 3"), 50);

  // A short write that succeeds is not retried.
  Change(0, [](VendorDevice& d) {
    d.FailWrites = 0;
    d.MaxPerWrite = 2;
  });
  EXPECT_EQ(port.Write(0, "xyz", 3, &written), 0);
  EXPECT_EQ(written, 2);
}

TEST_F(UsbPortTest, AWriteEndingInTheDriversTimeoutTakesTheDriversCount) {
  OpenDevice(0);
  int progress = -1, complete = -1;
  port.Hooks.OnWriteProgress = [&](int, int, int done, int whole) {
    progress = done;
    complete = whole;
    return 1;
  };
  Change(0, [](VendorDevice& d) {
    d.SemTimeoutWrites = 1;
    d.SemTransferred = 6;
  });
  int written = -1;
  EXPECT_EQ(port.Write(0, "abcdef", 6, &written), 1);
  EXPECT_EQ(written, 6);
  EXPECT_EQ(progress, 6);
  EXPECT_EQ(complete, 1);
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x222100 in 0 out 4"), 1);
  EXPECT_EQ(Count(driver.Log(), "write 6"), 1);  // ends the attempt at once

  Change(0, [](VendorDevice& d) {
    d.SemTimeoutWrites = 1;
    d.SemTransferred = 2;
  });
  const auto start = time.NowMilliseconds();
  EXPECT_EQ(port.Write(0, "abcdef", 6, &written), 0);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(complete, 0);
  EXPECT_EQ(time.NowMilliseconds(), start);
}

TEST_F(UsbPortTest, SynchronousReadsAreExactOrFail) {
  OpenDevice(0);
  int written = 0;
  port.Write(0, "\x1D\x49\x41", 3, &written);  // firmware: "_6.00" 00
  char buffer[16] = {};
  int got = -1;
  EXPECT_EQ(port.Read(buffer, 2, &got), 1);
  EXPECT_EQ(got, 2);
  EXPECT_EQ(std::string(buffer, 2), "_6");
  EXPECT_EQ(port.Read(buffer, 16, &got), 0);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(port.Read(buffer, 16, &got), 0);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(driver.Get<std::vector<std::uint32_t>>(0, [](const VendorDevice& d) { return d.ReadSizes; }),
            (std::vector<std::uint32_t>{2, 16, 16}));
}

TEST_F(UsbPortTest, DeviceInformation) {
  OpenDevice(0);
  DeviceInfo info;
  info.StatusCode = 9;
  EXPECT_EQ(port.GetDeviceInfo(&info), 0);
  EXPECT_EQ(info.DeviceVersion, "2.10");
  EXPECT_EQ(info.DriverVersion, "1.05");
  EXPECT_EQ(info.SecondString, "QX-K40VII");
  EXPECT_EQ(info.ThirdString, "SN0001");
  EXPECT_EQ(info.ExtraString, "QX USB");
  EXPECT_EQ(info.StatusCode, 1);
  const auto log = driver.Log();
  EXPECT_EQ(Count(log, "ioctl 0x222048 in 0 out 1024"), 1);
  EXPECT_EQ(Count(log, "ioctl 0x2220CC in 0 out 512"), 1);

  struct StateCase {
    std::uint32_t state;
    int flag;
    int code;
  };
  for (const StateCase c : {StateCase{0x14, 0, 0}, StateCase{0x26, 1, 4}, StateCase{0x10, 0, 3}}) {
    Change(0, [&](VendorDevice& d) { d.DeviceState = c.state; });
    port.GetDeviceInfo(&info);
    EXPECT_EQ(info.StatusFlag, c.flag) << c.state;
    EXPECT_EQ(info.StatusCode, c.code) << c.state;
  }

  // Without the run of strings the extra string is not asked for.
  Change(0, [](VendorDevice& d) { d.StringsFail = true; });
  driver.ClearLog();
  port.GetDeviceInfo(&info);
  EXPECT_EQ(info.SecondString, "");
  EXPECT_EQ(info.ExtraString, "");
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x2220CC in 0 out 512"), 0);

  // A descriptor that claims more than the driver returned is not read past the end,
  // and a run longer than the output is cut to it.
  Change(0, [](VendorDevice& d) {
    d.StringsFail = false;
    d.StringDescriptors = std::string("\x04\x03\x09\x04" "\x06\x03q\0x\0" "\x06\x03" "A\0B\0" "\x40\x03Z\0", 20);
    d.ExtraString = std::string("\xFE\x03" "E\0", 4);
  });
  port.GetDeviceInfo(&info);
  EXPECT_EQ(info.SecondString, "AB");
  EXPECT_EQ(info.ThirdString, "");
  EXPECT_EQ(info.ExtraString, "E");
  Change(0, [](VendorDevice& d) { d.StringDescriptors = std::string(4000, '\x02'); });
  port.GetDeviceInfo(&info);
  EXPECT_EQ(info.SecondString, "");

  // Failed state query: flag 0, code kept.
  Change(0, [](VendorDevice& d) { d.DeviceState = 0x26; });
  port.GetDeviceInfo(&info);
  EXPECT_EQ(info.StatusCode, 4);
  Change(0, [](VendorDevice& d) { d.Present = false; });
  port.GetDeviceInfo(&info);
  EXPECT_EQ(info.StatusFlag, 0);
  EXPECT_EQ(info.StatusCode, 4);
  EXPECT_EQ(info.DeviceVersion, "");
}

TEST_F(UsbPortTest, ReadinessPresenceAndTheCloseAfterARemoval) {
  OpenDevice(0);
  EXPECT_EQ(port.IsReady(), 1);
  EXPECT_EQ(port.CheckDevicePresent(), 1);
  Change(0, [](VendorDevice& d) { d.Status = 0x01; });
  EXPECT_EQ(port.IsReady(), 0);
  Change(0, [](VendorDevice& d) { d.Present = false; });
  EXPECT_EQ(port.IsReady(), 0);
  EXPECT_EQ(port.CheckDevicePresent(), 0);
  EXPECT_EQ(port.DeviceRequest(), 0);
  Change(0, [](VendorDevice& d) { d.Present = true; });
  EXPECT_EQ(port.DeviceRequest(), 1);
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x2221FC in 4 out 4"), 2);

  // Gone for good: a removal closes the port, once, and it reads nothing.
  int closed = 0;
  port.Hooks.OnClosed = [&](int) { ++closed; };
  Change(0, [](VendorDevice& d) { d.Present = false; });
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(port.Close(), 1);  // closed already: no second notice
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(driver.OpenHandles(), 0);
  int got = -1;
  char byte = 0;
  EXPECT_EQ(port.Read(&byte, 1, &got), 0);
  EXPECT_EQ(got, 0);
}

TEST_F(UsbPortTest, HandshakeBypass) {
  OpenDevice(0);
  EXPECT_EQ(port.SetHandshakeBypass(1), 1);
  EXPECT_TRUE(driver.Get<bool>(0, [](const VendorDevice& d) { return d.BypassOn; }));
  Change(0, [](VendorDevice& d) { d.HeldReads = 3; });
  EXPECT_EQ(port.SetHandshakeBypass(0), 1);
  EXPECT_FALSE(driver.Get<bool>(0, [](const VendorDevice& d) { return d.BypassOn; }));
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x2220C8 in 2 out 0"), 5);  // once on, four times off

  // Held for good: the wait gives up after its bound.
  Change(0, [](VendorDevice& d) { d.HeldReads = -1; });
  const auto start = time.NowMilliseconds();
  EXPECT_EQ(port.SetHandshakeBypass(0), 0);
  EXPECT_GE(time.NowMilliseconds() - start, TQXUSB::HandshakeReleaseLimitMs);
  EXPECT_LT(time.NowMilliseconds() - start, TQXUSB::HandshakeReleaseLimitMs + 10);
}

// Queued mode: real workers on a clock whose sleeps also pause a moment.
class UsbPortAsyncTest : public UsbPortTest {
 protected:
  UsbPortAsyncTest() : UsbPortTest(true) {}
  static std::vector<std::string> Writes(const SimVendorUsbDriver& driver) { return driver.Log({"write "}); }
  // Queues "0123456789" on the device with `fault`: it must arrive whole, in `writes`.
  void ExpectSentWhole(void (*fault)(VendorDevice&), const std::vector<std::string>& writes) {
    OpenDevice(0, 0, 0);
    Change(0, fault);
    EXPECT_EQ(port.Write(0, "0123456789", 10, nullptr), 1);
    ASSERT_TRUE(test::WaitUntil([&] { return engine.HostBytes().size() >= 10 && port.GetOutputPending() == 0; }));
    EXPECT_EQ(engine.HostBytes(), "0123456789");
    EXPECT_EQ(Writes(driver), writes);
    EXPECT_EQ(port.Close(), 1);
  }
};

TEST_F(UsbPortAsyncTest, QueuedWritesGoOutInBlocksAndRepliesArriveInTheQueue) {
  std::atomic<int> lastDone{0};
  std::atomic<int> completes{0};
  port.Hooks.OnWriteProgress = [&](int, int, int done, int complete) {
    lastDone = done;
    completes += complete;
    return 1;
  };
  OpenDevice(0, 0, 0);
  ASSERT_TRUE(port.HasWorkers());
  std::string data(3000, 'p');
  int written = 0;
  EXPECT_EQ(port.Write(0, data.data(), 3000, &written), 1);
  EXPECT_EQ(written, 3000);
  ASSERT_TRUE(test::WaitUntil([&] { return completes.load() == 3 && port.GetOutputPending() == 0; }));
  EXPECT_EQ(Writes(driver), (std::vector<std::string>{"write 1024", "write 1024", "write 952"}));
  EXPECT_EQ(Count(driver.Log(), "ioctl 0x22200C in 0 out 16"), 3);  // time-outs read per piece

  // A reply reaches the receive queue through the receive worker.
  port.Write(0, "\x10\x14\x12\x00\x03", 5, &written);
  const std::string reply = sim::wire::IdentifyReply("QX-K40VII");
  ASSERT_TRUE(test::WaitUntil([&] { return port.GetInputAvailable() == static_cast<int>(reply.size()); }));
  std::string got(reply.size(), '\0');
  int n = 0;
  EXPECT_EQ(port.Read(got.data(), static_cast<int>(got.size()), &n), 1);
  EXPECT_TRUE(got == reply);
  EXPECT_EQ(port.Read(got.data(), 1, &n), 0);
  EXPECT_EQ(n, 0);

  EXPECT_EQ(port.Close(), 1);
  EXPECT_FALSE(port.HasWorkers());
  EXPECT_EQ(driver.OpenHandles(), 0);
}

TEST_F(UsbPortAsyncTest, ShortPiecesAndDriverTimeoutsAreSentAgain) {
  ExpectSentWhole(
      [](VendorDevice& d) {
        d.SemTimeoutWrites = 1;
        d.SemTransferred = 4;
        d.FailWrites = 2;
      },
      {"write 10", "write 6", "write 6", "write 6"});
}

TEST_F(UsbPortAsyncTest, AFailedWriteThatMovedBytesGoesOnAfterThem) {
  ExpectSentWhole(
      [](VendorDevice& d) {
        d.FailWrites = 2;
        d.FailTransferred = 3;
      },
      {"write 10", "write 7", "write 4"});
}

TEST_F(UsbPortAsyncTest, ClearOutputAndCloseStopAWorkerRetryingAFailingDevice) {
  OpenDevice(0, 0, 0);
  Change(0, [](VendorDevice& d) { d.FailWrites = 1 << 30; });
  // The worker is stuck retrying the first piece of a big block.
  std::string block(9000, 'b');
  EXPECT_EQ(port.Write(0, block.data(), 9000, nullptr), 1);
  EXPECT_GT(port.GetOutputPending(), 0);
  port.ClearOutput();
  ASSERT_TRUE(test::WaitUntil([&] { return port.GetOutputPending() == 0; }));
  EXPECT_EQ(port.Close(), 1);  // the worker retrying a failing device still stops
  EXPECT_FALSE(port.HasWorkers());
}

// Each worker in turn is held in a driver call that never returns (true: the send
// worker's write, false: the receive worker's read).
class UsbPortStuckCallTest : public UsbPortAsyncTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UsbPortStuckCallTest, CloseGivesUpOnACallTheDriverNeverAnswers) {
  const bool writes = GetParam();
  Change(0, [&](VendorDevice& d) {
    (writes ? d.NeverAnswerWrites : d.NeverAnswerReads) = true;
    d.LateAnswer = "late";
  });
  auto stuck = std::make_unique<TQXUSB>(KindVendorUsb, driver);
  PortSettings s = UsbSettings(0, 0, 0);
  ASSERT_EQ(stuck->Configure(&s), 1);
  ASSERT_EQ(stuck->Open(), 1);
  // Text the printer does not answer, so that the late write leaves no reply behind.
  if (writes) {
    ASSERT_EQ(stuck->Write(0, "late text", 9, nullptr), 1);
  }
  ASSERT_TRUE(test::WaitUntil([&] { return driver.WaitingCalls() == 1; }));
  const int abandoned = AbandonedWorkers();

  const std::int64_t start = time.NowMilliseconds();
  EXPECT_EQ(stuck->Close(), 1);
  const std::int64_t took = time.NowMilliseconds() - start;
  EXPECT_GE(took, TQueuedPort::WorkerStopLimitMs);
  EXPECT_LE(took, TQueuedPort::ClosePauseMs + TQueuedPort::WorkerStopLimitMs + 10);
  EXPECT_FALSE(stuck->HasWorkers());
  EXPECT_EQ(AbandonedWorkers(), abandoned + 1);
  EXPECT_EQ(driver.OpenHandles(), 0);

  // The driver answers at last, after the port is gone: the worker must reach neither
  // the port nor its memory (the write still reads the block it was handed).
  stuck.reset();
  Change(0, [](VendorDevice& d) { d.NeverAnswerReads = d.NeverAnswerWrites = false; });
  ASSERT_TRUE(test::WaitUntil([] { return AbandonedWorkersRunning() == 0; }));

  // The device itself is still usable.
  OpenDevice(0, 0, 0);
  int written = 0;
  port.Write(0, "\x1D\x49\x41", 3, &written);
  ASSERT_TRUE(test::WaitUntil([&] { return port.GetInputAvailable() == 6; }));
  EXPECT_EQ(port.Close(), 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, UsbPortStuckCallTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Send" : "Receive"; });

TEST_F(UsbPortAsyncTest, ConfigureSwitchesTheWorkersToTheOtherChannel) {
  OpenDevice(0, 2, 0);
  PortSettings s = UsbSettings(0, 1, 0);
  ASSERT_EQ(port.Configure(&s), 1);
  int written = 0;
  port.Write(0, "\x1D\x49\x41", 3, &written);
  ASSERT_TRUE(test::WaitUntil([&] { return port.GetInputAvailable() == 6; }));
  EXPECT_EQ(driver.Get<int>(0, [](const VendorDevice& d) { return d.WritesOn.count("QD") ? d.WritesOn.at("QD") : 0; }), 1);
  EXPECT_EQ(port.Close(), 1);
}

}  // namespace
}  // namespace qx
