// The Add Port dialog and command under Wine, driven from a second thread while the
// command's modal loop runs. The network search is a test double here; the fixture
// maps COM3, COM5 and LPT2 into the test's own Wine prefix.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dialog_driver.h"
#include "fake_net_printer_search.h"
#include "support/root_devices.h"
#include "support/screenshot.h"

namespace qx::test {
namespace {


std::vector<std::string> SearchCalls() {
  std::lock_guard<std::mutex> lock(FakeSearch().Lock);
  return FakeSearch().Calls;
}

int CountCalls(const std::string& name) {
  const auto calls = SearchCalls();
  return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

// The answers the search gives next.
void SetAnswers(std::deque<std::pair<std::string, bool>> answers) {
  std::lock_guard<std::mutex> lock(FakeSearch().Lock);
  FakeSearch().Answers = std::move(answers);
}

class AddPortDialog : public AddPortRig {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lock(FakeSearch().Lock);
      FakeSearch().Calls.clear();
      FakeSearch().Answers.clear();
    }
    AddPortRig::SetUp();
  }

  int com5Index_ = 0;
};

TEST_F(AddPortDialog, FirstShowingCancelled) {
  host_.label2 = "QX-K40VII";
  AddPort([&](HWND dialog) {
    char caption[32] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Add Port");
    RECT client{};
    GetClientRect(dialog, &client);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(client.right, MulDiv(320, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(217, dpi, 96));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner_);
    EXPECT_FALSE(IsWindowEnabled(owner_));  // modal

    // Centred on the main window.
    RECT form{}, main{};
    GetWindowRect(dialog, &form);
    GetWindowRect(owner_, &main);
    EXPECT_NEAR((form.left + form.right) / 2, (main.left + main.right) / 2, 1);
    EXPECT_NEAR((form.top + form.bottom) / 2, (main.top + main.bottom) / 2, 1);

    EXPECT_EQ(ActivePage(dialog), static_cast<int>(AddPortPage::Usb));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IdComboBox31)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IdComboBox11)));
    EXPECT_EQ(Text(dialog, IdButton1), "OK");
    EXPECT_EQ(Text(dialog, IdButton2), "Cancel");
    EXPECT_EQ(Text(dialog, IdButton3), "Find");
    EXPECT_EQ(Text(dialog, IdLabel4), "IP Address");
    for (int field = 0; field < 4; ++field) {
      EXPECT_EQ(Text(dialog, IdEdit1 + field), field % 2 == 0 ? "192" : "168");
    }
    EXPECT_EQ(ListItems(dialog, IdComboBox12),
              (std::vector<std::string>{"2400 bps", "4800 bps", "9600 bps", "19200 bps", "38400 bps", "57600 bps",
                                        "115200 bps"}));
    EXPECT_EQ(Selection(dialog, IdComboBox12), 2);
    EXPECT_EQ(ListItems(dialog, IdComboBox13), (std::vector<std::string>{"Non", "Odd", "Even"}));
    EXPECT_EQ(Selection(dialog, IdComboBox13), 0);
    // Bold everywhere except the two Find buttons.
    auto weight = [&](int id) {
      LOGFONTA font{};
      GetObjectA(reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(dialog, id), WM_GETFONT, 0, 0)), sizeof font, &font);
      EXPECT_STREQ(font.lfFaceName, "Tahoma");
      return font.lfWeight;
    };
    EXPECT_EQ(weight(IdComboBox31), FW_BOLD);
    EXPECT_EQ(weight(IdButton1), FW_BOLD);
    EXPECT_EQ(weight(IdButton3), FW_NORMAL);
    EXPECT_EQ(weight(IdButton4), FW_NORMAL);

    // The search was opened for this window and asked.
    EXPECT_GE(CountCalls("Broadcast"), 1);
    EXPECT_EQ(CountCalls("Open"), 1);
    {
      std::lock_guard<std::mutex> lock(FakeSearch().Lock);
      EXPECT_EQ(FakeSearch().Window, dialog);
      EXPECT_EQ(FakeSearch().Message, 0x10D9u);
    }

    // Enter and Escape do nothing.
    HWND focus = GetDlgItem(dialog, IdComboBox31);
    PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(200);
    EXPECT_TRUE(IsWindowVisible(dialog));
    Click(dialog, IdButton2);
  });
  EXPECT_EQ(logic_.Ports().Count(), 0);
  EXPECT_EQ(host_.label2, "");
  EXPECT_FALSE(host_.enabled[static_cast<int>(Control::GetButton)]);
  EXPECT_TRUE(IsWindowEnabled(owner_));
}

TEST_F(AddPortDialog, ComPageListsThePresentPortsAndKeepsItsChoices) {
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Com);
    // COM3 and COM5 are mapped; a serial device of the machine may add one more name.
    const auto com = ListItems(dialog, IdComboBox11);
    const auto com3 = std::find(com.begin(), com.end(), "COM3");
    const auto com5 = std::find(com.begin(), com.end(), "COM5");
    EXPECT_TRUE(com3 != com.end() && com5 == com3 + 1) << ::testing::PrintToString(com);
    EXPECT_LE(com.size(), 3u);
    EXPECT_TRUE(std::is_sorted(com.begin(), com.end(), [](const std::string& a, const std::string& b) {
      return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
    }));
    EXPECT_EQ(Selection(dialog, IdComboBox11), 0);
    com5Index_ = static_cast<int>(com5 - com.begin());
    EXPECT_TRUE(ListItems(dialog, IdComboBox21).empty());
    EXPECT_TRUE(ListItems(dialog, IdComboBox31).empty());
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IdComboBox12)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IdComboBox31)));
    ChooseItem(dialog, IdComboBox11, com5Index_);
    ChooseItem(dialog, IdComboBox12, 3);
    ChooseItem(dialog, IdComboBox13, 2);
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(logic_.Ports().Name(0), "COM5");
  const PortSettings com5 = logic_.Ports().Entry(0);
  EXPECT_EQ(com5.PortType, KindSerial);
  EXPECT_EQ(com5.PortNumber, 4);
  EXPECT_EQ(com5.BaudCode, 4);
  EXPECT_EQ(com5.ParityCode, 2);
  EXPECT_EQ(com5.DataBits, 8);  // from the current settings
  EXPECT_EQ(host_.items, (std::vector<std::string>{"COM5"}));
  EXPECT_TRUE(host_.enabled[static_cast<int>(Control::GetButton)]);

  // The next showing keeps the page and the choices; the list starts again at its top.
  AddPort([&](HWND dialog) {
    EXPECT_EQ(ActivePage(dialog), static_cast<int>(AddPortPage::Com));
    EXPECT_EQ(Selection(dialog, IdComboBox11), 0);
    EXPECT_EQ(Selection(dialog, IdComboBox12), 3);
    EXPECT_EQ(Selection(dialog, IdComboBox13), 2);
    ChooseItem(dialog, IdComboBox11, com5Index_);
    ChooseItem(dialog, IdComboBox12, 4);
    ChooseItem(dialog, IdComboBox13, 1);
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);  // updated, not added
  EXPECT_EQ(logic_.Ports().Entry(0).BaudCode, 5);
  EXPECT_EQ(logic_.Ports().Entry(0).ParityCode, 1);
}

TEST_F(AddPortDialog, LptPage) {
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Lpt);
    EXPECT_EQ(ListItems(dialog, IdComboBox21), (std::vector<std::string>{"LPT2"}));
    EXPECT_EQ(Selection(dialog, IdComboBox21), 0);
    EXPECT_TRUE(ListItems(dialog, IdComboBox11).empty());
    EXPECT_TRUE(ListItems(dialog, IdComboBox31).empty());
    EXPECT_TRUE(ListItems(dialog, IdComboBox41).empty());
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(logic_.Ports().Name(0), "LPT2");
  EXPECT_EQ(logic_.Ports().Entry(0).PortType, KindParallel);
  EXPECT_EQ(logic_.Ports().Entry(0).LptCode, 1);
}

TEST_F(AddPortDialog, EmptyUsbListAddsNothing) {
  AddPort([&](HWND dialog) {
    EXPECT_TRUE(ListItems(dialog, IdComboBox31).empty());
    EXPECT_EQ(Selection(dialog, IdComboBox31), CB_ERR);
    Click(dialog, IdButton3);  // Find: the list is built again
    Sleep(50);
    EXPECT_TRUE(ListItems(dialog, IdComboBox31).empty());
    Click(dialog, IdButton1);
  });
  EXPECT_EQ(logic_.Ports().Count(), 0);
}

TEST_F(AddPortDialog, UsbPageNumbersBothClassesInOneRun) {
  RootDevices devices;
  ASSERT_FALSE(devices.Add(ToGuid(VendorUsbInterfaceClass)).empty());
  ASSERT_FALSE(devices.Add(ToGuid(UsbPrintInterfaceClass)).empty());
  ASSERT_FALSE(devices.Add(ToGuid(UsbPrintInterfaceClass)).empty());
  for (int pick : {2, 0}) {
    AddPort([&](HWND dialog) {
      EXPECT_EQ(ListItems(dialog, IdComboBox31), (std::vector<std::string>{"USB-000", "USB PRN-001", "USB PRN-002"}));
      EXPECT_EQ(Selection(dialog, IdComboBox31), 0);
      ChooseItem(dialog, IdComboBox31, pick);
      Click(dialog, IdButton1);
    });
  }
  ASSERT_EQ(logic_.Ports().Count(), 2);
  EXPECT_EQ(logic_.Ports().Name(0), "USB PRN-002");
  EXPECT_EQ(logic_.Ports().Entry(0).PortType, KindUsbPrinter);
  EXPECT_EQ(logic_.Ports().Entry(0).DeviceNumber, 1);  // the second printer-class interface
  EXPECT_EQ(logic_.Ports().Name(1), "USB-000");
  EXPECT_EQ(logic_.Ports().Entry(1).PortType, KindVendorUsb);
  EXPECT_EQ(logic_.Ports().Entry(1).DeviceNumber, 0);
}

TEST_F(AddPortDialog, OctetFieldsAreCorrectedWhenTheFocusLeaves) {
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Ethernet);
    const char* typed[4] = {"300", "08", "", "5"};
    const char* kept[4] = {"0", "8", "0", "5"};
    for (int field = 0; field < 4; ++field) SetText(dialog, IdEdit1 + field, typed[field]);
    for (int field = 0; field < 4; ++field) Focus(dialog, IdEdit1 + field);
    Focus(dialog, IdComboBox41);
    for (int field = 0; field < 4; ++field) EXPECT_EQ(Text(dialog, IdEdit1 + field), kept[field]) << field;
    // At most three characters each.
    EXPECT_EQ(SendMessageA(GetDlgItem(dialog, IdEdit1), EM_GETLIMITTEXT, 0, 0), 3);
    SetText(dialog, IdEdit1, "10");
    SetText(dialog, IdEdit1 + 3, "999");  // still focused elsewhere: corrected by OK
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(logic_.Ports().Name(0), "10.8.0.0");
  const PortSettings s = logic_.Ports().Entry(0);
  EXPECT_EQ(s.PortType, KindNetwork);
  const std::uint8_t ip[4] = {10, 8, 0, 0};
  EXPECT_EQ(0, std::memcmp(s.IpAddress, ip, 4));
}

TEST_F(AddPortDialog, SearchAnswersAreListedOnceInArrivalOrder) {
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Ethernet);
    EXPECT_GE(CountCalls("Broadcast"), 2);  // at the showing, and for the page
    SetAnswers({{"10.1.1.7", true}, {"10.1.1.9", false}, {"10.1.1.8", true}, {"10.1.1.7", true}});
    for (int i = 0; i < 4; ++i) PostMessageA(dialog, SearchResultMessage, 0, 0);
    EXPECT_TRUE(WaitUntil([] { return CountCalls("ReadReply") == 4; }, std::chrono::seconds(5)));
    EXPECT_EQ(ListItems(dialog, IdComboBox41), (std::vector<std::string>{"10.1.1.7", "10.1.1.8"}));
    EXPECT_EQ(Selection(dialog, IdComboBox41), 0);
    EXPECT_EQ(Octets(dialog), "10.1.1.7");

    // An answer already listed changes nothing, not even the octet fields.
    SetText(dialog, IdEdit1, "1");
    SetAnswers({{"10.1.1.8", true}});
    SendMessageA(dialog, SearchResultMessage, 0, 0);
    EXPECT_EQ(Text(dialog, IdEdit1), "1");
    EXPECT_EQ(ListItems(dialog, IdComboBox41).size(), 2u);

    // Choosing the second address fills the fields with it.
    ChooseItem(dialog, IdComboBox41, 1);
    EXPECT_EQ(Text(dialog, IdEdit1 + 3), "8");

    // Find empties the list and asks again.
    const int before = CountCalls("Broadcast");
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IdButton4, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IdButton4)));
    EXPECT_TRUE(ListItems(dialog, IdComboBox41).empty());
    EXPECT_EQ(CountCalls("Broadcast"), before + 1);
    EXPECT_EQ(Text(dialog, IdEdit1 + 3), "8");
    Click(dialog, IdButton1);
  });
  ASSERT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(logic_.Ports().Name(0), "10.1.1.8");
}

TEST_F(AddPortDialog, SystemMenuCloseIsCancelAndTheFormIsReused) {
  host_.label2 = "QX-K40V";
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Lpt);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(logic_.Ports().Count(), 0);
  EXPECT_EQ(host_.label2, "");
  AddPort([&](HWND dialog) {
    EXPECT_EQ(ActivePage(dialog), static_cast<int>(AddPortPage::Lpt));
    Click(dialog, IdButton1);
  });
  EXPECT_EQ(logic_.Ports().Count(), 1);
  EXPECT_EQ(CountCalls("Open"), 2);
  EXPECT_EQ(CountCalls("Close"), 0);
  DestroyAddPortForm();
  EXPECT_EQ(SearchCalls().back(), "Close");
  EXPECT_EQ(CountCalls("Close"), 1);
}

TEST_F(AddPortDialog, PicturesOfEachPage) {
  AddPort([&](HWND dialog) {
    for (AddPortPage page : {AddPortPage::Com, AddPortPage::Lpt, AddPortPage::Usb, AddPortPage::Ethernet}) {
      ChoosePage(dialog, page);
      RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      Sleep(300);
      static const char* names[] = {"com", "lpt", "usb", "ethernet"};
      const std::string file = std::string("addport_") + names[static_cast<int>(page)] + ".bmp";
      // A picture of the dialog as it is on the screen, beside the test program.
      SaveScreenshot(file, dialog);
      EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
    }
    Click(dialog, IdButton2);
  });
}

TEST_F(AddPortDialog, MainWindowGoingAwayEndsTheShowing) {
  AddPort([&](HWND dialog) {
    ChoosePage(dialog, AddPortPage::Lpt);
    SendMessageA(owner_, WM_CLOSE, 0, 0);  // destroys the owner, and the dialog with it
  });
  EXPECT_FALSE(IsWindow(owner_));
  owner_ = nullptr;
  EXPECT_EQ(logic_.Ports().Count(), 0);
  EXPECT_EQ(CountCalls("Close"), 1);
}

TEST_F(AddPortDialog, DestroyingTheMainWindowClosesTheSearch) {
  DestroyWindow(owner_);
  owner_ = nullptr;
  EXPECT_EQ(CountCalls("Close"), 1);
  DestroyAddPortForm();
  EXPECT_EQ(CountCalls("Close"), 1);
}

}  // namespace
}  // namespace qx::test
