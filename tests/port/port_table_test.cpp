#include "port/port_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>

#include "support/memory_port.h"
#include "port/placeholder_port.h"

namespace qx {
namespace {

// Records which kinds are alive so the tests can see what the table really destroyed.
struct Census {
  std::multiset<int> alive;
};

class TrackedPort : public TPlaceholderPort {
 public:
  TrackedPort(int kind, Census& census) : TPlaceholderPort(kind, kind), census_(census) {
    census_.alive.insert(kind);
  }
  ~TrackedPort() override { census_.alive.erase(census_.alive.find(Kind)); }

 private:
  Census& census_;
};

class PortTableTest : public ::testing::Test {
 protected:
  Census census;
  PortTable table{[this](int kind) { return std::make_unique<TrackedPort>(kind, census); }};
};

TEST(PortSettingsLayout, SixtyFourBytesInTheFixedOrder) {
  EXPECT_EQ(sizeof(PortSettings), 64u);
  EXPECT_EQ(offsetof(PortSettings, IpAddress), 44u);
  EXPECT_EQ(offsetof(PortSettings, WriteTimeoutConstant), 60u);
}

TEST_F(PortTableTest, CreatesOneObjectPerKindAtItsIndex) {
  table.LibraryInit(nullptr);
  for (int kind = 0; kind < PortKindCount; ++kind) EXPECT_EQ(table.Create(kind), kind);
  EXPECT_EQ(table.CreateCount(), 6);
  for (int kind = 0; kind < PortKindCount; ++kind) {
    ASSERT_NE(table.At(kind), nullptr);
    EXPECT_EQ(table.At(kind)->PortId, kind);
  }
  for (int kind = 5; kind >= 0; --kind) EXPECT_EQ(table.Destroy(kind), 1);
  EXPECT_EQ(table.CreateCount(), 0);
  EXPECT_TRUE(census.alive.empty());
}

TEST_F(PortTableTest, SecondCreateOfAKindFailsButCounts) {
  EXPECT_EQ(table.Create(2), 2);
  EXPECT_EQ(table.Create(2), -1);
  EXPECT_EQ(table.CreateCount(), 2);
  EXPECT_EQ(table.Destroy(2), 1);  // count 1, below 6: destroys the object
  EXPECT_EQ(table.CreateCount(), 1);
  EXPECT_EQ(table.At(2), nullptr);
  EXPECT_TRUE(census.alive.empty());
  EXPECT_EQ(table.Destroy(2), 1);  // empty entry, count back to 0
  EXPECT_EQ(table.CreateCount(), 0);
}

TEST_F(PortTableTest, SurplusCreationsOnlyCancelOnDestroy) {
  for (int kind = 0; kind < PortKindCount; ++kind) table.Create(kind);
  EXPECT_EQ(table.Create(0), -1);  // the seventh
  EXPECT_EQ(table.CreateCount(), 7);
  EXPECT_EQ(table.Destroy(5), 1);  // only brings the count back to 6
  EXPECT_EQ(table.CreateCount(), 6);
  EXPECT_NE(table.At(5), nullptr);
  EXPECT_EQ(census.alive.count(5), 1u);
  EXPECT_EQ(table.Destroy(5), 1);  // now below 6: destroyed
  EXPECT_EQ(table.At(5), nullptr);
}

TEST_F(PortTableTest, BadTypesAndIndexes) {
  EXPECT_EQ(table.Create(6), -1);
  EXPECT_EQ(table.Create(-1), -1);
  EXPECT_EQ(table.CreateCount(), 2);  // failed calls still count
  EXPECT_EQ(table.Destroy(256), -1);
  EXPECT_EQ(table.Destroy(-1), -1);
  EXPECT_EQ(table.CreateCount(), 2);  // and bad destroys do not

  int count = 99;
  EXPECT_EQ(table.Write(300, 0, "x", 1, &count), -1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table.Write(300, 0, "x", 1, nullptr), -1);
  count = 99;
  char buffer[4];
  EXPECT_EQ(table.Read(4, buffer, 4, &count), -1);  // in range, but empty
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table.Open(4), -1);
  EXPECT_EQ(table.Close(-7), -1);
  PortSettings settings;
  EXPECT_EQ(table.Configure(255, &settings), -1);
}

TEST_F(PortTableTest, OperationsReachTheObjectAndReturnItsResult) {
  table.Create(1);
  EXPECT_EQ(table.Open(1), 0);  // a placeholder never opens
  EXPECT_EQ(table.Close(1), 1);
  PortSettings settings;
  EXPECT_EQ(table.Configure(1, &settings), 1);
  int count = 99;
  EXPECT_EQ(table.Write(1, 0, "x", 1, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(PortTableTest, InitAndShutdownDoNothingWhileCreationsAreCounted) {
  table.LibraryInit(reinterpret_cast<ModuleInstance>(0x1234));
  table.Create(3);
  table.LibraryShutdown();  // still counted: the object stays
  EXPECT_NE(table.At(3), nullptr);
  table.LibraryInit(nullptr);  // likewise ignored
  EXPECT_EQ(table.Instance(), reinterpret_cast<ModuleInstance>(0x1234));
  table.Destroy(3);
  table.LibraryShutdown();
  EXPECT_TRUE(census.alive.empty());
}

TEST_F(PortTableTest, ShutdownDestroysObjectsLeftBehindByCancelledDestroys) {
  for (int kind = 0; kind < PortKindCount; ++kind) table.Create(kind);
  table.Create(0);                            // surplus: count 7
  for (int kind = 5; kind >= 0; --kind) table.Destroy(kind);  // the first only cancels
  table.Destroy(0);                           // balances the surplus call: count 0
  EXPECT_EQ(table.CreateCount(), 0);
  EXPECT_EQ(census.alive.count(5), 1u);       // kind 5 was never destroyed
  table.LibraryShutdown();
  EXPECT_TRUE(census.alive.empty());
}

TEST(PortTableWithMemoryPort, ZeroLengthWriteAndReadOnAnOpenPort) {
  test::MemoryDevice device;
  PortTable table([&](int kind) { return std::make_unique<test::TMemoryPort>(kind, device); });
  ASSERT_EQ(table.Create(0), 0);
  ASSERT_EQ(table.Open(0), 1);
  int count = 99;
  EXPECT_EQ(table.Write(0, 0, "x", 0, &count), 0);
  EXPECT_EQ(count, 0);
  count = 99;
  char buffer[1];
  EXPECT_EQ(table.Read(0, buffer, 0, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table.Close(0), 1);
  table.Destroy(0);
}

}  // namespace
}  // namespace qx
