// The simulated printer on the ports the utility uses, 9100 and 3289, inside the test
// process: the way the network kind's tests run it, natively and under Wine.

#include <gtest/gtest.h>

#include "sim/transport/simulated_printer.h"
#include "wire_client.h"

namespace qx::sim {
namespace {

using namespace test;

TEST(SimulatedPrinterDefaultPorts, AnswersOn9100And3289) {
  SimulatedPrinterOptions options;
  options.Address = {127, 1, 1, 20};
  SimulatedPrinter printer(options);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  EXPECT_EQ(printer.TcpEndpoint().Port, 9100);
  EXPECT_EQ(printer.UdpEndpoint().Port, 3289);

  UdpClient status;
  ASSERT_TRUE(status.Open({{127, 1, 1, 120}, 0}));
  EXPECT_TRUE(SameBytes(QueryReadyReply, status.Ask(QueryReady, {{127, 1, 1, 20}, 3289})));

  TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 20}, 9100}));
  EXPECT_TRUE(Answers(host, Identify, IdentifyReply));
}

}  // namespace
}  // namespace qx::sim
