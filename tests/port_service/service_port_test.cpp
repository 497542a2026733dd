// The port-service kind against the test stand-in for the service's client library:
// what it hands to the library for each operation, the receive path through the data
// callback, the cut-off of that callback, and the diagnostic listing. Under Windows the
// library is the DLL beside this program, loaded by the program's own loader.

#include "port/service/service_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/engine/clock.h"
#include "sim/engine/printer_engine.h"
#include "support/wait_until.h"
#include "sim/port_service/stand_in_library.h"

namespace qx {
namespace {

using test::EngineBackend;
using test::PortListAnswer;
using test::WaitUntil;
using test::Zemak;
using test::ZemakCalls;
using Lines = std::vector<std::string>;

PortSettings Settings(int syncMode, int portNumber, std::array<std::uint8_t, 4> ip = {192, 168, 192, 168}) {
  PortSettings s;
  s.PortType = KindPortService;
  s.SyncMode = syncMode;
  s.PortNumber = portNumber;
  for (int i = 0; i < 4; ++i) s.IpAddress[i] = ip[i];
  s.WriteTimeoutMultiplier = 0;
  s.WriteTimeoutConstant = 2000;
  return s;
}

int Configure(TQXPH& port, const PortSettings& settings) { return port.Configure(&settings); }

// The library with some entry points taken away.
class PartialLibrary final : public ServiceLibrary {
 public:
  PartialLibrary(std::unique_ptr<ServiceLibrary> full, void (*strip)(ServiceEntryPoints&))
      : full_(std::move(full)), entries_(full_->Entries()) {
    strip(entries_);
  }
  const ServiceEntryPoints& Entries() const override { return entries_; }

 private:
  std::unique_ptr<ServiceLibrary> full_;
  ServiceEntryPoints entries_;
};

class ServicePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Zemak().Complete()) << "the test library is not beside the test program";
    Zemak().Reset();
    port = std::make_unique<TQXPH>(KindPortService, test::TestServiceLibrary());
    ASSERT_TRUE(port->LibraryLoaded());
    port->ListingSink = [this](std::string_view text) { listing.append(text); };
  }
  void TearDown() override {
    port.reset();
    Zemak().Reset();
  }

  // Serves the ports from the simulated printer.
  void UseEngine(std::set<std::string> names = {"PVDPRT001"}) {
    backend = std::make_unique<EngineBackend>(engine, std::move(names));
    hooks = backend->Backend();
    Zemak().SetBackend(&hooks);
  }

  sim::FakeClock clock;
  sim::PrinterEngine engine{clock};
  std::unique_ptr<EngineBackend> backend;
  ZemakTestBackend hooks{};
  std::unique_ptr<TQXPH> port;
  std::string listing;
};

TEST_F(ServicePortTest, GeneratedNameAndLocalUrl) {
  ASSERT_EQ(Configure(*port, Settings(1, 3)), 1);
  EXPECT_EQ(port->ServicePortName, u"PVDPRT003");
  EXPECT_EQ(port->RemoteMode, 0);
  EXPECT_TRUE(ZemakCalls().empty());  // the generated name needs no service

  ASSERT_EQ(port->Open(), 1);
  EXPECT_EQ(port->Open(), 1);  // open already: the library is not called again
  EXPECT_EQ(port->IsOpen(), 1);
  EXPECT_EQ(port->GetHandle(), 1);
  EXPECT_EQ(Zemak().OpenConnections(), 1u);
  EXPECT_EQ(ZemakCalls(), (Lines{"Open pipe://QX/PVDPRT003 -> 1", "Lock 1 2000", "RegisterCallback 1 0x60002 context=0",
                                 "Ioctl 1 OPEN_OPTION 02 00 00 00 out=0"}));
  Zemak().ClearCallLog();
  EXPECT_EQ(port->Close(), 1);
  // "UnRegisterCallback" is never called: how it is called is not known.
  EXPECT_EQ(ZemakCalls(), (Lines{"Unlock 1", "Close 1"}));
  EXPECT_EQ(port->IsOpen(), 0);
  EXPECT_EQ(port->GetHandle(), 0);
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
  EXPECT_EQ(port->Close(), 1);  // closed already: no library call
  EXPECT_EQ(ZemakCalls().size(), 2u);
}

TEST_F(ServicePortTest, RemoteAddressesAndBackToLocal) {
  // 192.168.192.168 and 0.0.0.0 mean this machine; others the service on that machine.
  const std::pair<std::array<std::uint8_t, 4>, std::string> opens[] = {
      {{10, 0, 0, 5}, "Open tcp://10.0.0.5/QX/PVDPRT003 -> 1"},
      {{0, 0, 0, 0}, "Open pipe://QX/PVDPRT003 -> 2"},
      {{192, 168, 192, 168}, "Open pipe://QX/PVDPRT003 -> 3"}};
  for (const auto& [ip, open] : opens) {
    Zemak().ClearCallLog();
    ASSERT_EQ(Configure(*port, Settings(1, 3, ip)), 1);
    EXPECT_EQ(port->RemoteMode, ip[0] == 10 ? 1 : 0);
    ASSERT_EQ(port->Open(), 1);
    EXPECT_EQ(ZemakCalls().front(), open);
    port->Close();
  }
  ASSERT_EQ(Configure(*port, Settings(1, 3, {10, 0, 0, 5})), 1);
  EXPECT_EQ(port->RemoteAddressText, u"10.0.0.5");
}

TEST_F(ServicePortTest, ListSelection) {
  const std::string list = PortListAnswer({"PVDPRT001", "USB-LINE", "LAN-7"});
  Zemak().SetPortList(list.data(), static_cast<std::uint32_t>(list.size()));

  ASSERT_EQ(Configure(*port, Settings(0, 1)), 1);
  EXPECT_EQ(port->ServicePortName, u"USB-LINE");
  EXPECT_EQ(ZemakCalls(), (Lines{"Open pipe://QX -> 1", "Ioctl 1 LIST_PORTS in=0 out=1024", "Close 1"}));

  // A position past the list keeps the name.
  ASSERT_EQ(Configure(*port, Settings(0, 3)), 1);
  EXPECT_EQ(port->ServicePortName, u"USB-LINE");
  ASSERT_EQ(Configure(*port, Settings(2, 2)), 1);  // any SyncMode but 1 asks the service
  EXPECT_EQ(port->ServicePortName, u"LAN-7");
  ASSERT_EQ(Configure(*port, Settings(0, -1)), 1);
  EXPECT_EQ(port->ServicePortName, u"LAN-7");

  // Remote: the list of that machine's service.
  Zemak().ClearCallLog();
  ASSERT_EQ(Configure(*port, Settings(0, 0, {10, 0, 0, 5})), 1);
  EXPECT_EQ(port->ServicePortName, u"PVDPRT001");
  EXPECT_EQ(ZemakCalls().front(), "Open tcp://10.0.0.5/QX/ -> 5");
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
}

TEST_F(ServicePortTest, AServiceThatCannotListKeepsTheName) {
  const std::string list = PortListAnswer({"A", "B"});
  Zemak().SetPortList(list.data(), static_cast<std::uint32_t>(list.size()));
  Zemak().SetFaults(ZEMAK_TEST_FAIL_LIST);
  EXPECT_EQ(Configure(*port, Settings(0, 1)), 1);
  EXPECT_EQ(port->ServicePortName, u"PVDPRT001");
  EXPECT_EQ(ZemakCalls().back(), "Close 1");  // the list connection is closed all the same

  Zemak().SetFaults(ZEMAK_TEST_REFUSE_OPEN);
  EXPECT_EQ(Configure(*port, Settings(0, 1)), 1);
  EXPECT_EQ(port->ServicePortName, u"PVDPRT001");
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
}

TEST_F(ServicePortTest, AListWithoutItsClosingEntry) {
  // More than the 1024-byte answer holds, and no empty entry anywhere: the library
  // fills the answer to the brim. 64 names of 7 characters fit exactly.
  std::vector<std::string> names;
  for (int i = 0; i < 80; ++i) names.push_back((i < 10 ? "PORT00" : "PORT0") + std::to_string(i));
  const std::string list = PortListAnswer(names, false);
  Zemak().SetPortList(list.data(), static_cast<std::uint32_t>(list.size()));

  ASSERT_EQ(Configure(*port, Settings(0, 63)), 1);
  EXPECT_EQ(port->ServicePortName, u"PORT063");
  ASSERT_EQ(Configure(*port, Settings(0, 64)), 1);
  EXPECT_EQ(port->ServicePortName, u"PORT063");  // beyond the answer: unchanged
  ASSERT_EQ(Configure(*port, Settings(0, 79)), 1);
  EXPECT_EQ(port->ServicePortName, u"PORT063");

  // The same names listed: only what the answer holds.
  port->GetDeviceInfo(nullptr);
  EXPECT_EQ(listing.find("PORT064"), std::string::npos);
  EXPECT_NE(listing.find("  PortHandler pipe  PORT063  "), std::string::npos);
}

TEST_F(ServicePortTest, RefusedLockOrOpenLeavesNoConnection) {
  Zemak().SetFaults(ZEMAK_TEST_REFUSE_LOCK);
  EXPECT_EQ(port->Open(), 0);
  EXPECT_EQ(port->IsOpen(), 0);
  EXPECT_EQ(port->GetHandle(), 0);
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
  EXPECT_EQ(ZemakCalls(), (Lines{"Open pipe://QX/PVDPRT001 -> 1", "Lock 1 2000", "Unlock 1", "Close 1"}));

  Zemak().ClearCallLog();
  Zemak().SetFaults(ZEMAK_TEST_REFUSE_OPEN);
  EXPECT_EQ(port->Open(), 0);
  EXPECT_EQ(port->GetHandle(), 0);
  EXPECT_EQ(ZemakCalls(), (Lines{"Open pipe://QX/PVDPRT001 -> refused"}));

  // The next open, once the service agrees, works.
  Zemak().SetFaults(0);
  EXPECT_EQ(port->Open(), 1);
  EXPECT_EQ(Zemak().OpenConnections(), 1u);
}

TEST_F(ServicePortTest, WriteTimeOutAndCounts) {
  PortSettings s = Settings(1, 1);
  s.WriteTimeoutMultiplier = 3;
  s.WriteTimeoutConstant = 100;
  ASSERT_EQ(port->Configure(&s), 1);
  int written = -1;
  EXPECT_EQ(port->Write(0, "hello", 5, &written), 0);  // not open: nothing goes to the library
  EXPECT_EQ(written, 0);
  EXPECT_TRUE(ZemakCalls().empty());

  ASSERT_EQ(port->Open(), 1);
  Zemak().ClearCallLog();
  EXPECT_EQ(port->Write(7, "hello", 5, &written), 1);
  EXPECT_EQ(written, 5);
  EXPECT_EQ(ZemakCalls(), (Lines{"SendReceive 1 5 flags=0 timeout=115 receive=0"}));
  EXPECT_EQ(port->Write(0, "hello", 5, nullptr), 1);

  // A library that reports more sent than it was given: no more than the length.
  Zemak().SetFaults(ZEMAK_TEST_OVERCOUNT_SEND);
  EXPECT_EQ(port->Write(0, "hello", 5, &written), 1);
  EXPECT_EQ(written, 5);

  // A failed send reports what the library says went out.
  Zemak().SetFaults(ZEMAK_TEST_FAIL_SEND);
  EXPECT_EQ(port->Write(0, "hello", 5, &written), 0);
  EXPECT_EQ(written, 2);
}

TEST_F(ServicePortTest, ReceivedDataComeThroughTheCallback) {
  UseEngine();
  std::atomic<int> arrivals{0};
  std::atomic<int> lastAvailable{0};
  std::atomic<int> lastId{-1};
  std::mutex threadLock;
  std::thread::id deliveringThread;
  port->Hooks.OnDataArrived = [&](int id, int available) {
    {
      std::lock_guard lock(threadLock);
      deliveringThread = std::this_thread::get_id();
    }
    lastId = id;
    lastAvailable = available;
    ++arrivals;
    return 0;
  };
  ASSERT_EQ(port->Open(), 1);
  const sim::Bytes identify = sim::wire::Identify();
  int written = 0;
  ASSERT_EQ(port->Write(0, identify.data(), static_cast<int>(identify.size()), &written), 1);
  EXPECT_EQ(written, 5);

  const sim::Bytes reply = sim::wire::IdentifyReply("QX-K40VII");
  // The library queues the bytes before it announces them: wait for the announcement.
  ASSERT_TRUE(WaitUntil([&] {
    return port->GetInputAvailable() == static_cast<int>(reply.size()) &&
           lastAvailable.load() == static_cast<int>(reply.size());
  }));
  EXPECT_GE(arrivals.load(), 1);
  EXPECT_EQ(lastAvailable.load(), static_cast<int>(reply.size()));
  EXPECT_EQ(lastId.load(), KindPortService);
  {
    // On the library's own thread, not the caller's.
    std::lock_guard lock(threadLock);
    EXPECT_NE(deliveringThread, std::this_thread::get_id());
  }
  char buffer[64];
  int got = 0;
  EXPECT_EQ(port->Read(buffer, 3, &got), 1);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(port->Read(buffer + 3, sizeof buffer - 3, &got), 1);
  EXPECT_EQ(got, static_cast<int>(reply.size()) - 3);
  EXPECT_TRUE(std::string(buffer, reply.size()) == reply);
  EXPECT_EQ(engine.CommandsReceived(sim::Command::Identify), 1);
}

// The library goes on calling the callback it was given after the port closed, or was
// destroyed without a Close first: nothing of it reaches the port, nor a new one.
TEST_F(ServicePortTest, CallbackCutOffWhileTheLibraryKeepsDelivering) {
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "closed");
    ASSERT_EQ(port->Open(), 1);
    Zemak().StartFlood("z", 1);
    ASSERT_TRUE(WaitUntil([&] { return port->GetInputAvailable() > 0; }));
    if (destroy) {
      port.reset();
      port = std::make_unique<TQXPH>(KindPortService, test::TestServiceLibrary());
    } else {
      ASSERT_EQ(port->Close(), 1);
    }
    const int available = destroy ? 0 : port->GetInputAvailable();
    const std::uint64_t calls = Zemak().FloodCalls();
    ASSERT_TRUE(WaitUntil([&] { return Zemak().FloodCalls() > calls + 2000; }));
    EXPECT_EQ(port->GetInputAvailable(), available);
    Zemak().StopFlood();
  }
}

// Deliveries are told apart by the port they were registered for, not by the handle
// the library names: its first values are not relied on.
TEST_F(ServicePortTest, DeliveriesDoNotRelyOnTheHandleTheLibraryNames) {
  ASSERT_EQ(port->Open(), 1);
  EXPECT_EQ(Zemak().Deliver(static_cast<SvcHandle>(port->GetHandle()) + 7, "new", 3), 0);
  EXPECT_EQ(port->GetInputAvailable(), 3);
}

TEST_F(ServicePortTest, CloseWaitsForACallbackAlreadyRunning) {
  UseEngine();
  std::atomic<bool> inside{false};
  std::atomic<int> finished{0};
  port->Hooks.OnDataArrived = [&](int, int) {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    inside = false;
    ++finished;
    return 0;
  };
  ASSERT_EQ(port->Open(), 1);
  const sim::Bytes identify = sim::wire::Identify();
  ASSERT_EQ(port->Write(0, identify.data(), static_cast<int>(identify.size()), nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
  EXPECT_EQ(port->Close(), 1);
  EXPECT_FALSE(inside.load());
  EXPECT_EQ(finished.load(), 1);
}

TEST_F(ServicePortTest, DiagnosticListing) {
  const std::string list = PortListAnswer({"PVDPRT001", "PVDPRT002", "PVDPRT003", "PVDPRT004"});
  Zemak().SetPortList(list.data(), static_cast<std::uint32_t>(list.size()));
  Zemak().SetProperty("PVDPRT001", "PortType", "USB");
  Zemak().SetProperty("PVDPRT001", "PortName", "USB001");
  Zemak().SetProperty("PVDPRT001", "ModelName", "QX-K40VII");
  Zemak().SetProperty("PVDPRT002", "PortType", "LPT");
  Zemak().SetProperty("PVDPRT002", "PortName", "LPT1");
  Zemak().SetProperty("PVDPRT002", "Id.ModelName", "QX-K40VI");
  Zemak().SetProperty("PVDPRT003", "PortType", "COM");

  // Each port's line, on the service at `address` (empty: this machine's), and its
  // properties' line where it has any.
  const auto listed = [](const std::string& handler, const std::string& address) {
    const char* properties[] = {"  USB  USB001  QX-K40VII\n\n", "  LPT  LPT1  QX-K40VI\n\n", "  COM\n", "\n"};
    std::string text;
    for (int i = 0; i < 4; ++i) {
      text += "  PortHandler " + handler + "  PVDPRT00" + std::to_string(i + 1) + "  " + address + properties[i];
    }
    return text;
  };
  EXPECT_EQ(port->GetDeviceInfo(nullptr), 0);
  const std::string local = listed("pipe", "");
  EXPECT_EQ(listing, local);
  EXPECT_EQ(Zemak().OpenConnections(), 0u);

  const Lines calls = ZemakCalls();
  const Lines first(calls.begin(), calls.begin() + 9);
  EXPECT_EQ(first, (Lines{"Open pipe://QX -> 1", "Ioctl 1 LIST_PORTS in=0 out=1024", "Open pipe://QX/PVDPRT001/ -> 2",
                          "Ioctl 2 GET_PROPERTY PortType in=18 out=1024", "Ioctl 2 GET_PROPERTY PortName in=18 out=1024",
                          "Ioctl 2 GET_PROPERTY ModelName in=20 out=1024", "Close 2", "Open pipe://QX/PVDPRT002/ -> 3",
                          "Ioctl 3 GET_PROPERTY PortType in=18 out=1024"}));
  EXPECT_NE(std::find(calls.begin(), calls.end(), "Ioctl 3 GET_PROPERTY Id.ModelName in=26 out=1024"), calls.end());
  EXPECT_EQ(calls.back(), "Close 1");

  // With a remote address the remote machine's ports follow.
  ASSERT_EQ(Configure(*port, Settings(1, 1, {10, 0, 0, 5})), 1);
  listing.clear();
  Zemak().ClearCallLog();
  EXPECT_EQ(port->GetDeviceInfo(nullptr), 0);
  const std::string remote = listed("tcp ", "10.0.0.5\n");
  EXPECT_EQ(listing, local + remote);
  const Lines remoteCalls = ZemakCalls();
  EXPECT_NE(std::find(remoteCalls.begin(), remoteCalls.end(), "Open tcp://10.0.0.5/QX/PVDPRT004/ -> 15"),
            remoteCalls.end());
  EXPECT_EQ(Zemak().OpenConnections(), 0u);

  // A service that cannot be reached lists nothing.
  Zemak().SetFaults(ZEMAK_TEST_REFUSE_OPEN);
  listing.clear();
  EXPECT_EQ(port->GetDeviceInfo(nullptr), 0);
  EXPECT_EQ(listing, "");
}

TEST_F(ServicePortTest, MissingLibraryOrEntryPoints) {
  // Without the library, or without its "Open" or "Lock", nothing can be configured,
  // opened or listed.
  std::vector<std::unique_ptr<ServiceLibrary>> libraries;
  libraries.push_back(nullptr);
  for (auto strip : {+[](ServiceEntryPoints& e) { e.Open = nullptr; }, +[](ServiceEntryPoints& e) { e.Lock = nullptr; }}) {
    libraries.push_back(std::make_unique<PartialLibrary>(test::TestServiceLibrary(), strip));
  }
  for (std::unique_ptr<ServiceLibrary>& library : libraries) {
    const bool loaded = library != nullptr;
    SCOPED_TRACE(loaded ? "partial library" : "no library");
    TQXPH partial(KindPortService, std::move(library));
    EXPECT_EQ(partial.LibraryLoaded(), loaded);
    partial.ListingSink = [this](std::string_view text) { listing.append(text); };
    EXPECT_EQ(Configure(partial, Settings(1, 3)), 0);
    EXPECT_EQ(partial.ServicePortName, u"PVDPRT001");
    EXPECT_EQ(partial.Open(), 0);
    EXPECT_EQ(partial.IsOpen(), 0);
    EXPECT_EQ(partial.IsReady(), 1);
    EXPECT_EQ(partial.GetDeviceInfo(nullptr), 0);
    int count = -1;
    EXPECT_EQ(partial.Write(0, "abc", 3, &count), 0);
    EXPECT_EQ(count, 0);
    char buffer[4];
    EXPECT_EQ(partial.Read(buffer, sizeof buffer, &count), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(partial.SetOutputBlockSize(77), 1);
    EXPECT_EQ(partial.GetOutputBlockSize(), 77);
    EXPECT_EQ(partial.Close(), loaded ? 1 : 0);  // without "Close" and "Unlock" no clean close
  }
  EXPECT_EQ(listing, "");
  EXPECT_EQ(Zemak().OpenConnections(), 0u);

  // Without "SendReceive" a write fails; without "Unlock" the close does.
  TQXPH noSend(KindPortService,
               std::make_unique<PartialLibrary>(test::TestServiceLibrary(),
                                                +[](ServiceEntryPoints& e) { e.SendReceive = nullptr; }));
  ASSERT_EQ(noSend.Open(), 1);
  int written = -1;
  EXPECT_EQ(noSend.Write(0, "abc", 3, &written), 0);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(noSend.Close(), 1);

  // Without "Unlock" the close fails, but the connection is closed, so the port is
  // free for the next open.
  TQXPH noUnlock(KindPortService,
                 std::make_unique<PartialLibrary>(test::TestServiceLibrary(),
                                                  +[](ServiceEntryPoints& e) { e.Unlock = nullptr; }));
  ASSERT_EQ(noUnlock.Open(), 1);
  EXPECT_EQ(noUnlock.Close(), 0);
  EXPECT_EQ(noUnlock.IsOpen(), 0);
  EXPECT_EQ(noUnlock.GetHandle(), 0);
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
  EXPECT_EQ(noUnlock.Open(), 1);
  EXPECT_EQ(noUnlock.Close(), 0);
}

}  // namespace
}  // namespace qx
