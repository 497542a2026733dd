// Faults over the network kind, through the main window's logic against the simulated
// printer on its own loopback address: a printer that closes the connection in the
// middle of a reply, and one that stops answering on TCP while its status channel
// still answers. Each ends with its one message box within one byte limit of the
// silence (real time: the limit runs on the host's clock while bytes cross loopback).

#include <gtest/gtest.h>

#include "support/real_time_host.h"
#include "app/main_window_logic.h"
#include "net/net_test_support.h"
#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "sim/transport/simulated_printer.h"

namespace qx {
namespace {

std::string ErrorBox(const char* text) { return std::string("box Error (error icon): ") + text; }

class ReliabilityNetFaults : public ::testing::Test {
 protected:
  test::PacedClock netClock{test::NetClockSpeed};
  test::RealTimeHost host;
  PortTable table{test::NetworkPorts(netClock)};
  MainWindowLogic logic{table, host};
  std::unique_ptr<sim::SimulatedPrinter> printer;

  void SetUp() override {
    sim::SimulatedPrinterOptions options;
    options.Address = {127, 12, 1, 1};
    printer = std::make_unique<sim::SimulatedPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
    logic.CreatePorts(nullptr);
    test::SelectNetworkPrinter(logic, {127, 12, 1, 1});
  }
  void TearDown() override {
    logic.DestroyPorts();
    printer.reset();
  }

  // Runs a Get and returns the wall time it took in milliseconds.
  std::int64_t TimedGet() {
    host.events.clear();
    const std::int64_t start = SteadyMilliseconds();
    logic.GetButtonClick();
    return SteadyMilliseconds() - start;
  }
};

// One 2000 ms byte limit, the settle pauses and loopback's own time.
constexpr std::int64_t Bound = 2000 + 1500;

TEST_F(ReliabilityNetFaults, TheConnectionClosesInTheMiddleOfAReply) {
  sim::ReplyFault hangUp;
  hangUp.DisconnectAfter = 4;
  hangUp.Count = 1;
  printer->Printer().SetFault(sim::Command::Identify, hangUp);
  EXPECT_LE(TimedGet(), Bound);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{ErrorBox(MessageNotRecognised)});

  printer->Printer().ClearFaults();
  hangUp.DisconnectAfter = 6;
  printer->Printer().SetFault(sim::Command::ModelSettingQuery, hangUp);
  EXPECT_LE(TimedGet(), Bound);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{ErrorBox(MessageCannotGet)});

  // A new connection on the next Get works again.
  printer->Printer().ClearFaults();
  TimedGet();
  EXPECT_EQ(host.Boxes(),
            std::vector<std::string>{"box Information (information icon): " + std::string(MessageGetSucceeded)});
}

TEST_F(ReliabilityNetFaults, APrinterSilentOnTcpIsBounded) {
  sim::ReplyFault silent;
  silent.Silent = true;
  printer->Printer().SetFault(sim::Command::Firmware, silent);
  EXPECT_LE(TimedGet(), Bound);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{ErrorBox(MessageNotRecognised)});
}

}  // namespace
}  // namespace qx
