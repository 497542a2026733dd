// The USB printer-class kind against the simulated USB printing driver: the interface
// choice, exclusive opening, reads in whole units with the kept surplus, the write
// requests and the stalled-write sequence, and the device listing. Fake clock.

#include "port/usb/usb_printer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "port/device/pending_io.h"
#include "sim/usb/simulated_usb.h"

namespace qx {
namespace {

using test::SimUsbPrintDriver;
using test::UsbPrinter;

std::vector<std::string> Requests(const SimUsbPrintDriver& driver) {
  return driver.Log({"set ", "get ", "write ", "cancel", "read "});
}

class UsbPrinterTest : public ::testing::Test {
 protected:
  sim::FakeClock time;
  Clock& clock{time};
  sim::PrinterEngine engine{clock};
  SimUsbPrintDriver driver{time, engine};
  TQXUSBPRN port{KindUsbPrinter, driver};
  QX_USBPrinterClass& device = port.UsbPrinterDevice;

  void TearDown() override { EXPECT_EQ(driver.BadCalls(), 0) << ::testing::PrintToString(driver.BadCallLog()); }
  // The port open on the one printer there is.
  void OpenOnePrinter() {
    driver.AddPrinter();
    ASSERT_EQ(port.Open(), 1);
  }
  // Printer bytes for the host.
  void PrinterSays(const std::string& bytes) { engine.SendUnsolicited(bytes); }
  std::vector<std::uint32_t> ReadSizes(int index = 0) {
    return driver.Get<std::vector<std::uint32_t>>(index, [](const UsbPrinter& p) { return p.ReadSizes; });
  }
};

TEST_F(UsbPrinterTest, ConfigureAndOpenTheChosenInterface) {
  EXPECT_EQ(device.WriteTimeoutConstant, 2000u);
  EXPECT_EQ(device.WriteTimeoutMultiplier, 0u);
  EXPECT_EQ(device.DeviceIndex, 0);
  EXPECT_EQ(port.Open(), 0);  // no printer interface
  for (int i = 0; i < 3; ++i) driver.AddPrinter();
  // The mode is ignored.
  PortSettings s{.SyncMode = 0, .DeviceNumber = 2, .WriteTimeoutMultiplier = 7, .WriteTimeoutConstant = 9};
  EXPECT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(device.WriteTimeoutMultiplier, 7u);
  EXPECT_EQ(device.WriteTimeoutConstant, 9u);
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(port.Open(), 1);
  EXPECT_EQ(driver.Log().front(), "open " + SimUsbPrintDriver::InterfacePathFor(2) + " flags 0x40000000");
  EXPECT_TRUE(driver.Get<bool>(2, [](const UsbPrinter& p) { return p.Opened; }));
  EXPECT_EQ(port.IsOpen(), 0);  // always, also while open
  EXPECT_EQ(port.GetHandle(), 0);
  EXPECT_EQ(port.IsReady(), 1);
  EXPECT_EQ(port.GetOutputBlockSize(), 0);
  EXPECT_EQ(port.SetOutputBlockSize(0), 1);
  EXPECT_EQ(port.SetInputBlockSize(1 << 30), 1);
  EXPECT_EQ(port.SetHandshakeBypass(1), 0);
  EXPECT_EQ(driver.OpenHandles(), 3);  // the device and two events

  // Opened without sharing: a second device object cannot have it.
  QX_USBPrinterClass other(driver);
  other.DeviceIndex = 2;
  EXPECT_EQ(other.Open(), 0);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(driver.OpenHandles(), 0);
  EXPECT_EQ(other.Open(), 1);
  EXPECT_EQ(other.Close(), 1);
  EXPECT_EQ(port.Close(), 1);

  // An interface without readable details has no path to open.
  driver.Change(2, [](UsbPrinter& p) { p.DetailFails = true; });
  EXPECT_EQ(port.Open(), 0);
  // An explicit path needs no lookup.
  EXPECT_EQ(device.Open(SimUsbPrintDriver::InterfacePathFor(1).c_str()), 1);
  device.Close();
}

TEST_F(UsbPrinterTest, EventFailuresLeaveNothingOpen) {
  driver.AddPrinter();
  driver.FailEvents = 1;
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(driver.OpenHandles(), 0);
}

TEST_F(UsbPrinterTest, ReadsFetchWholeUnitsAndKeepTheSurplus) {
  ASSERT_NO_FATAL_FAILURE(OpenOnePrinter());
  PrinterSays("0123456789");
  char buffer[1024] = {};
  int got = -1;
  EXPECT_EQ(port.Read(buffer, 3, &got), 1);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(std::string(buffer, 3), "012");
  EXPECT_EQ(device.PendingCount(), 7);
  EXPECT_EQ(port.Read(buffer, 5, &got), 1);
  EXPECT_EQ(got, 5);
  EXPECT_EQ(std::string(buffer, 5), "34567");
  EXPECT_EQ(ReadSizes(), (std::vector<std::uint32_t>{512}));  // no device read for the second
  // The kept bytes go with the opening.
  port.Close();
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(device.PendingCount(), 0);

  // 512 and more go straight to the caller in whole units.
  PrinterSays(std::string(700, 'x'));
  EXPECT_EQ(port.Read(buffer, 1000, &got), 1);
  EXPECT_EQ(got, 512);
  EXPECT_EQ(port.Read(buffer, 1024, &got), 1);
  EXPECT_EQ(got, 188);
  EXPECT_EQ(ReadSizes(), (std::vector<std::uint32_t>{512, 512, 1024}));
  EXPECT_EQ(device.PendingCount(), 0);
}

TEST_F(UsbPrinterTest, APendingReadIsBounded) {
  ASSERT_NO_FATAL_FAILURE(OpenOnePrinter());
  char buffer[16];
  int got = -1;
  const auto start = time.NowMilliseconds();
  EXPECT_EQ(port.Read(buffer, 1, &got), 1);
  EXPECT_EQ(got, 0);
  EXPECT_GE(time.NowMilliseconds() - start, QX_USBPrinterClass::PendingReadLimitMs);
  EXPECT_LT(time.NowMilliseconds() - start, QX_USBPrinterClass::PendingReadLimitMs + 5);
  EXPECT_EQ(Requests(driver), (std::vector<std::string>{"read 512", "cancel"}));

  // Data that come while the read waits complete it.
  driver.Change(0, [](UsbPrinter& p) { p.ReadPolls = 20; });
  PrinterSays("ab");
  EXPECT_EQ(port.Read(buffer, 1, &got), 1);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(device.PendingCount(), 1);
  port.Close();
  int none = -1;
  EXPECT_EQ(port.Read(buffer, 5, &none), 0);  // closed, and the kept byte went with the opening
  EXPECT_EQ(none, 0);
}

TEST_F(UsbPrinterTest, ARequestTheDriverKeepsAfterCancelIsGivenUp) {
  driver.AddPrinter();
  driver.Change(0, [](UsbPrinter& p) { p.KeepCancelled = true; });
  ASSERT_EQ(port.Open(), 1);
  const int abandoned = AbandonedRequests();
  const auto start = time.NowMilliseconds();
  {
    std::vector<char> buffer(1024);
    int got = -1;
    EXPECT_EQ(port.Read(buffer.data(), 1024, &got), 1);
    EXPECT_EQ(got, 0);
  }  // the caller's buffer is gone
  EXPECT_LE(time.NowMilliseconds() - start, QX_USBPrinterClass::PendingReadLimitMs + CancelLimitMs + 5);
  EXPECT_EQ(AbandonedRequests(), abandoned + 1);
  EXPECT_EQ(port.Close(), 1);
  // The driver ends it at last: it writes into memory the port gave up, not the caller's.
  EXPECT_EQ(driver.CompleteKept(), 1);
}

TEST_F(UsbPrinterTest, WritesAreBracketedByTheVendorRequests) {
  ASSERT_NO_FATAL_FAILURE(OpenOnePrinter());
  int written = -1;
  EXPECT_EQ(port.Write(0, "\x1D\x49\x41", 3, &written), 1);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Requests(driver), (std::vector<std::string>{"set 11", "write 3", "get 12"}));
  EXPECT_EQ(engine.HostBytes(), "\x1D\x49\x41");

  // A write that completes while it is polled.
  driver.Change(0, [](UsbPrinter& p) { p.WritePolls = 5; });
  driver.ClearLog();
  const auto start = time.NowMilliseconds();
  EXPECT_EQ(port.Write(0, "abcd", 4, &written), 1);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(time.NowMilliseconds() - start, 5);

  // The printer's count is what the caller gets.
  driver.Change(0, [](UsbPrinter& p) {
    p.WritePolls = 0;
    p.CountAnswer = 2;
  });
  std::uint32_t count = 0;
  EXPECT_EQ(device.Write("abcd", 4, count), 1);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(port.Write(0, "abcd", 4, &written), 0);  // the port wants every byte
  EXPECT_EQ(written, 2);

  // A refused begin: nothing is written, the count is 0.
  driver.Change(0, [](UsbPrinter& p) { p.RefuseBegin = true; });
  driver.ClearLog();
  written = -1;
  EXPECT_EQ(port.Write(0, "abcd", 4, &written), 0);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(Requests(driver), (std::vector<std::string>{"set 11"}));
  port.Close();
  written = -1;
  EXPECT_EQ(port.Write(0, "abcd", 4, &written), 0);
  EXPECT_EQ(written, 0);
}

TEST_F(UsbPrinterTest, AStalledWriteIsToldResetAndTriedOnceMore) {
  ASSERT_NO_FATAL_FAILURE(OpenOnePrinter());
  driver.Change(0, [](UsbPrinter& p) { p.StallWrites = 2; });
  std::uint32_t count = 99;
  std::vector<std::int64_t> requestTimes;
  const auto start = time.NowMilliseconds();
  EXPECT_EQ(device.Write("hello", 5, count), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Requests(driver),
            (std::vector<std::string>{"set 11", "write 5", "set 20", "get 12", "set 21", "cancel", "write 5", "set 20",
                                      "get 12", "set 21", "cancel"}));
  // About two seconds for the first attempt, none for the second.
  EXPECT_GT(time.NowMilliseconds() - start, 2000);
  EXPECT_LT(time.NowMilliseconds() - start, 2010);
  EXPECT_EQ(engine.HostBytes(), "");

  // Through the port: nothing went out, so the write is not reported as done.
  driver.Change(0, [](UsbPrinter& p) { p.StallWrites = 2; });
  int written = -1;
  EXPECT_EQ(port.Write(0, "hello", 5, &written), 0);
  EXPECT_EQ(written, 0);

  // A printer that took part of it ends the call with its count, without a reset.
  driver.Change(0, [](UsbPrinter& p) {
    p.StallWrites = 1;
    p.CountAnswer = 3;
  });
  driver.ClearLog();
  EXPECT_EQ(device.Write("hello", 5, count), 1);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Requests(driver), (std::vector<std::string>{"set 11", "write 5", "set 20", "get 12", "cancel"}));

  // The second attempt goes out: the call ends with what the printer took.
  driver.Change(0, [](UsbPrinter& p) {
    p.StallWrites = 1;
    p.CountAnswer.reset();
  });
  EXPECT_EQ(port.Write(0, "hello", 5, &written), 1);
  EXPECT_EQ(written, 5);
  EXPECT_EQ(engine.HostBytes(), "hello");
  EXPECT_EQ(port.Close(), 1);
}

TEST_F(UsbPrinterTest, AGoneDeviceRefusesWritesAndRequests) {
  ASSERT_NO_FATAL_FAILURE(OpenOnePrinter());
  driver.Change(0, [](UsbPrinter& p) { p.Present = false; });
  int written = -1;
  EXPECT_EQ(port.Write(0, "x", 1, &written), 0);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(port.DeviceRequest(), 0);
  driver.Change(0, [](UsbPrinter& p) { p.Present = true; });
  EXPECT_EQ(port.DeviceRequest(), 1);
  EXPECT_EQ(Requests(driver).back(), "set 7F");
}

TEST_F(UsbPrinterTest, TheDeviceListing) {
  for (int i = 0; i < 4; ++i) driver.AddPrinter();
  driver.Change(0, [](UsbPrinter& p) { p.DosNames = {"USB001", "LPT9"}; });
  driver.Change(1, [](UsbPrinter& p) { p.Present = false; });  // its slot shows the next one
  driver.Change(3, [](UsbPrinter& p) { p.DosQueryFails = true; });
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  device.ListDevices(out);
  std::rewind(out);
  std::string text;
  char line[256];
  while (std::fgets(line, sizeof line, out)) text += line;
  std::fclose(out);
  EXPECT_EQ(text,
            "  USB Port          USB000          USB001\n"
            "  USB Port          USB000          LPT9\n"
            "  USB Port          USB001          USB003\n"
            "  USB Port          USB002\n");
  EXPECT_EQ(port.GetDeviceInfo(nullptr), 0);
}

}  // namespace
}  // namespace qx
