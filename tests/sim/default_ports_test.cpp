// The simulated printer on the ports the utility uses, 9100 and 3289, inside the test
// process: the way the network kind's tests run it, natively and under Wine.

#include <gtest/gtest.h>

#include "sim/transport/simulated_printer.h"
#include "wire_client.h"

namespace qx::sim {
namespace {

using test::B;
using test::SameBytes;

TEST(SimulatedPrinterDefaultPorts, AnswersOn9100And3289) {
  SimulatedPrinterOptions options;
  options.Address = {127, 1, 1, 20};
  SimulatedPrinter printer(options);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  EXPECT_EQ(printer.TcpEndpoint().Port, 9100);
  EXPECT_EQ(printer.UdpEndpoint().Port, 3289);

  test::UdpClient status;
  ASSERT_TRUE(status.Open({{127, 1, 1, 120}, 0}));
  ASSERT_TRUE(status.SendTo(B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}),
                            {{127, 1, 1, 20}, 3289}));
  Bytes reply;
  ASSERT_TRUE(status.Receive(reply));
  EXPECT_TRUE(SameBytes(B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x71, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00}),
                        reply));

  test::TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 20}, 9100}));
  ASSERT_TRUE(host.Send(B({0x10, 0x14, 0x12, 0x00, 0x03})));
  EXPECT_TRUE(SameBytes(Bytes("7MCQX-K40VII") + '\0', host.Read(13)));
}

}  // namespace
}  // namespace qx::sim
