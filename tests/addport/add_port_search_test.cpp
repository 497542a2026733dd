// The Add Port dialog with the real network search, inside the fixture's namespace:
// two simulated printers behind two veth links, the first reachable from two local
// addresses (so it answers twice). QX_ADDPORT_PRINTERS names their addresses.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>

#include "addport/add_port_command.h"
#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "dialog_driver.h"

namespace qx {
namespace {

using test::ListItems;
using test::Text;
using test::WaitFor;

std::set<std::string> Printers() {
  std::set<std::string> printers;
  const char* list = std::getenv("QX_ADDPORT_PRINTERS");
  std::stringstream in(list ? list : "");
  std::string address;
  while (std::getline(in, address, ',')) printers.insert(address);
  return printers;
}

std::string Octets(HWND dialog) {
  return Text(dialog, IdEdit1) + "." + Text(dialog, IdEdit1 + 1) + "." + Text(dialog, IdEdit1 + 2) + "." +
         Text(dialog, IdEdit1 + 3);
}

TEST(AddPortSearch, PrintersThatAnswerAreListedOnceEach) {
  const std::set<std::string> printers = Printers();
  ASSERT_EQ(printers.size(), 2u) << "QX_ADDPORT_PRINTERS names the two simulated printers";
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 480, 300, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  test::FakeHost host;
  PortTable ports{[](int) { return std::unique_ptr<TQXCCC>(); }};
  MainWindowLogic logic{ports, host};
  CreateAddPortForm(owner);

  std::string first;
  test::WhileModal(
      [&](HWND dialog) {
        // The showing itself searches, whatever page is active.
        EXPECT_TRUE(WaitFor([&] { return ListItems(dialog, IdComboBox41).size() == 2; }, 8000))
            << ::testing::PrintToString(ListItems(dialog, IdComboBox41));
        Sleep(500);  // the first printer's second answer has arrived by now
        auto listed = ListItems(dialog, IdComboBox41);
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), printers);
        EXPECT_EQ(listed.size(), 2u);
        if (!listed.empty()) first = listed[0];
        EXPECT_EQ(test::Selection(dialog, IdComboBox41), 0);
        EXPECT_EQ(Octets(dialog), first);

        // Choosing the page searches again from an empty list.
        test::ChoosePage(dialog, AddPortPage::Ethernet);
        EXPECT_TRUE(WaitFor([&] { return ListItems(dialog, IdComboBox41).size() == 2; }, 8000));
        listed = ListItems(dialog, IdComboBox41);
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), printers);
        if (!listed.empty()) first = listed[0];
        EXPECT_EQ(Octets(dialog), first);
        test::Click(dialog, IdButton1);
      },
      [&] { AddButtonClick(owner, logic); });

  ASSERT_EQ(logic.Ports().Count(), 1);
  EXPECT_EQ(logic.Ports().Name(0), first);
  EXPECT_EQ(logic.Ports().Entry(0).PortType, KindNetwork);
  DestroyAddPortForm();
  DestroyWindow(owner);
}

}  // namespace
}  // namespace qx
