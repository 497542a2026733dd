// qxmodel against a networked printer: the program's own port table and bindings, the
// network kind over loopback to the simulated printer on an address of this test's own.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/program_run_fixture.h"
#include "support/wait_until.h"

namespace qx::cli {
namespace {

class QxModelNet : public ProgramRunTest {
 protected:
  // Wine binds a datagram socket on 127.x.y.z to 0.0.0.0: one simulated printer's status
  // port per process there, so the tests with several run natively only.
  void SkipUnderWine() {
#ifdef _WIN32
    GTEST_SKIP() << "several simulated printers need their own datagram ports";
#endif
  }

  void SetUp() override {
    sim::SimulatedPrinterOptions options;
    options.Address = {127, 11, 0, 4};
    Start(options, printer);
  }

  std::unique_ptr<sim::SimulatedPrinter> printer;
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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Sixteen printers on addresses of their own, one of which never answers the model
// query: every exchange runs side by side with its own port table.
class QxModelFleet : public QxModelNet {
 protected:
  static constexpr int Count = 16;
  static constexpr int Silent = 7;

  void SetUp() override {
    SkipUnderWine();
    if (IsSkipped()) return;
    QxModelNet::SetUp();
    if (IsSkipped()) return;
    for (int i = 1; i <= Count; ++i) {
      sim::SimulatedPrinterOptions options;
      options.Address = {127, 11, 1, static_cast<std::uint8_t>(i)};
      fleet.emplace_back();
      Start(options, fleet.back());
      if (HasFatalFailure()) return;
      ports.push_back("net:127.11.1." + std::to_string(i));
    }
    fleet[Silent - 1]->Printer().SetFault(sim::Command::ModelSettingQuery, {.Silent = true});
  }

  // The arguments, then every port of the fleet.
  std::vector<std::string> ForAll(std::vector<std::string> args) const {
    args.insert(args.end(), ports.begin(), ports.end());
    return args;
  }

  std::vector<std::unique_ptr<sim::SimulatedPrinter>> fleet;
  std::vector<std::string> ports;
};

TEST_F(QxModelFleet, OneLinePerPortAsItEndsAndTheExitOfTheWhole) {
  EXPECT_EQ(Run(ForAll({"get", "-j", "16"})), ExitFailed);
  std::vector<std::string> expected;
  for (int i = 1; i <= Count; ++i) {
    expected.push_back("net:127.11.1." + std::to_string(i) +
                       (i == Silent ? "\terror: This utility can't get data from printer." : "\tQX-K40VII"));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Lines(out.str()), expected);
  EXPECT_EQ(err.str(), "15 ok, 1 failed\n");

  // Set as JSON Lines, the fields of a single run per port.
  EXPECT_EQ(Run(ForAll({"--json", "set", "QX-K40V", "-j16"})), ExitFailed);
  const std::vector<std::string> objects = Lines(out.str());
  ASSERT_EQ(objects.size(), 16u) << out.str();
  for (int i = 1; i <= Count; ++i) {
    const std::string head = "{\"command\":\"set\",\"port\":\"net:127.11.1." + std::to_string(i) +
                             "\",\"name\":\"127.11.1." + std::to_string(i) + "\",\"requested\":\"QX-K40V\",";
    const auto line = std::find_if(objects.begin(), objects.end(), [&](const std::string& o) { return o.rfind(head, 0) == 0; });
    ASSERT_NE(line, objects.end()) << head;
    EXPECT_NE(line->find(i == Silent ? "\"ok\":false,\"exit\":1" : "\"model\":\"QX-K40V\",\"ok\":true,\"exit\":0"),
              std::string::npos)
        << *line;
    if (i != Silent) EXPECT_EQ(fleet[i - 1]->Printer().ModelSetting(), 0x02);
  }

  // Everyone answers: exit 0.
  fleet[Silent - 1]->Printer().SetFault(sim::Command::ModelSettingQuery, {});
  EXPECT_EQ(Run(ForAll({"get", "-j", "5"})), ExitSuccess);
  EXPECT_EQ(err.str(), "16 ok, 0 failed\n");
}

// net:HOST: "localhost" to the printer on 127.0.0.1; a name that cannot resolve fails
// its port only.
TEST_F(QxModelNet, HostNamesAreResolvedOnce) {
  SkipUnderWine();
  if (IsSkipped()) return;
  sim::SimulatedPrinterOptions options;
  options.Address = {127, 0, 0, 1};
  std::unique_ptr<sim::SimulatedPrinter> localhost;
  Start(options, localhost);
  ASSERT_FALSE(HasFatalFailure());
  sim::SimulatedPrinter& local = *localhost;

  EXPECT_EQ(Run({"set", "QX-K40VI", "net:localhost"}), 0) << err.str();
  EXPECT_EQ(out.str(), "QX-K40VI\n");
  EXPECT_EQ(local.Printer().ModelSetting(), 0x03);
  EXPECT_EQ(Run({"--json", "print", "net:localhost"}), 0) << err.str();
  EXPECT_NE(out.str().find("\"port\":\"net:localhost\",\"name\":\"localhost\""), std::string::npos) << out.str();
  EXPECT_TRUE(test::WaitUntil([&] { return local.Printer().PrintedLines().size() == 1; }));

  EXPECT_EQ(Run({"get", "net:no-such-printer.invalid"}), 1);
  EXPECT_EQ(err.str().rfind("qxmodel: cannot resolve host name \"no-such-printer.invalid\" to an IPv4 address (", 0), 0u)
      << err.str();
  EXPECT_EQ(Run({"get", "net:localhost", "net:no-such-printer.invalid", "net:LOCALHOST"}), 1);
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 3u) << out.str();
  EXPECT_EQ(lines[0], "net:LOCALHOST\tQX-K40VI");
  EXPECT_EQ(lines[1], "net:localhost\tQX-K40VI");
  EXPECT_EQ(lines[2].rfind("net:no-such-printer.invalid\terror: cannot resolve host name", 0), 0u) << lines[2];
  EXPECT_EQ(err.str(), "2 ok, 1 failed\n");
}

}  // namespace
}  // namespace qx::cli
