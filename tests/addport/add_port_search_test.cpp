// The Add Port dialog with the real network search, inside the fixture's namespace:
// two simulated printers behind two veth links, the first reachable from two local
// addresses (so it answers twice). QX_ADDPORT_PRINTERS names their addresses.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>

#include "dialog_driver.h"

namespace qx::test {
namespace {


std::set<std::string> Printers() {
  std::set<std::string> printers;
  const char* list = std::getenv("QX_ADDPORT_PRINTERS");
  std::stringstream in(list ? list : "");
  std::string address;
  while (std::getline(in, address, ',')) printers.insert(address);
  return printers;
}

using AddPortSearch = AddPortRig;

TEST_F(AddPortSearch, PrintersThatAnswerAreListedOnceEach) {
  const std::set<std::string> printers = Printers();
  ASSERT_EQ(printers.size(), 2u) << "QX_ADDPORT_PRINTERS names the two simulated printers";
  std::string first;
  AddPort([&](HWND dialog) {
    // The showing itself searches, whatever page is active.
    EXPECT_TRUE(WaitUntil([&] { return ListItems(dialog, IdComboBox41).size() == 2; }, std::chrono::seconds(8)))
        << ::testing::PrintToString(ListItems(dialog, IdComboBox41));
    Sleep(500);  // the first printer's second answer has arrived by now
    auto listed = ListItems(dialog, IdComboBox41);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), printers);
    EXPECT_EQ(listed.size(), 2u);
    if (!listed.empty()) first = listed[0];
    EXPECT_EQ(Selection(dialog, IdComboBox41), 0);
    EXPECT_EQ(Octets(dialog), first);

    // Choosing the page searches again from an empty list.
    ChoosePage(dialog, AddPortPage::Ethernet);
    EXPECT_TRUE(WaitUntil([&] { return ListItems(dialog, IdComboBox41).size() == 2; }, std::chrono::seconds(8)));
    listed = ListItems(dialog, IdComboBox41);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), printers);
    if (!listed.empty()) first = listed[0];
    EXPECT_EQ(Octets(dialog), first);
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(logic_.Ports().Name(0), first);
  EXPECT_EQ(logic_.Ports().Entry(0).PortType, KindNetwork);
}

}  // namespace
}  // namespace qx::test
