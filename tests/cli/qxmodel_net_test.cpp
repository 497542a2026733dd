// qxmodel against a networked printer: the program's own port table and bindings, the
// network kind over loopback to the simulated printer on an address of this test's own.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/platform_bindings.h"
#include "cli/qxmodel.h"
#include "port/placeholder_port.h"
#include "port/standard_ports.h"
#include "sim/transport/simulated_printer.h"
#include "support/memory_port.h"

namespace qx::cli {
namespace {

bool NetworkKindBuilt() {
  auto port = CreateStandardPort(KindNetwork);
  return dynamic_cast<TPlaceholderPort*>(port.get()) == nullptr;
}

class QxModelNet : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NetworkKindBuilt()) GTEST_SKIP() << "this build has no network kind yet";
    sim::SimulatedPrinterOptions options;
    options.Address = {127, 11, 0, 4};
    options.Printer.RestartMs = 50;
    printer = std::make_unique<sim::SimulatedPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
    env.FastWaits = true;
    BindPlatform(env);
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunQxModel(args, env);
  }

  std::unique_ptr<sim::SimulatedPrinter> printer;
  std::ostringstream out;
  std::ostringstream err;
  Environment env{nullptr, out, err};
};

TEST_F(QxModelNet, GetSetPrintAndInfo) {
  printer->Printer().SetModelSetting(0x02);
  EXPECT_EQ(Run({"get", "net:127.11.0.4"}), 0) << err.str();
  EXPECT_EQ(out.str(), "QX-K40V\n");
  EXPECT_EQ(err.str(), "Information: Getting information was successful.\n");

  EXPECT_EQ(Run({"--json", "set", "QX-K40VII", "net:127.11.0.4"}), 0) << err.str();
  EXPECT_EQ(printer->Printer().ModelSetting(), 0x00);
  EXPECT_NE(out.str().find("\"model\":\"QX-K40VII\",\"ok\":true"), std::string::npos) << out.str();

  EXPECT_EQ(Run({"print", "net:127.11.0.4"}), 0) << err.str();
  EXPECT_TRUE(test::WaitUntil([&] { return printer->Printer().PrintedLines().size() == 1; }));

  EXPECT_EQ(Run({"--json", "info", "net:127.11.0.4"}), 0) << err.str();
  EXPECT_NE(out.str().find("\"info\":{\"Name\":\""), std::string::npos) << out.str();
}

TEST_F(QxModelNet, NobodyAtTheAddress) {
  EXPECT_EQ(Run({"get", "net:127.11.0.5"}), 1);
  EXPECT_EQ(err.str(), "Error: This utility can't open communication port.\n");
}

}  // namespace
}  // namespace qx::cli
