// The reader thread against the virtual thermometer, started directly, with
// the test window standing in for the main window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "device_test_support.h"
#include "thermometer.h"
#include "vthermo_control.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A poll is a 2 s sleep plus up to 0.3 s of waiting, and Wine adds a little.
constexpr double MIN_POLL_GAP_S = 1.9;
constexpr double MAX_POLL_GAP_S = 2.7;

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StopAnyReader());
    ASSERT_TRUE(VThermoUnplugAll());
    window = OpenTestWindow(TestWindowKind::Quiet);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    EXPECT_TRUE(StopAnyReader());
    CloseTestWindow();
  }

  // Waits for the next delivery after those seen so far.
  bool WaitForDelivery(Delivery* delivery, milliseconds timeout = milliseconds(4000)) {
    const size_t seen = Deliveries().size();
    if (!WaitUntil([&] { return Deliveries().size() > seen; }, timeout)) return false;
    *delivery = Deliveries()[seen];
    return true;
  }

  void ExpectOnePerPoll() {
    std::vector<Delivery> all = Deliveries();
    for (size_t i = 1; i < all.size(); ++i) {
      double gap = SecondsBetween(all[i - 1].time, all[i].time);
      EXPECT_GE(gap, MIN_POLL_GAP_S) << "delivery " << i;
      EXPECT_LE(gap, MAX_POLL_GAP_S) << "delivery " << i;
    }
  }

  HWND window = nullptr;
};

// One run of the reader: first reading, pacing, the newest value of a device
// that reports far faster than the poll, invalid values, a silent device and
// the stop, in one scenario because every poll costs 2 s.
TEST_F(ReaderTest, DeliversTheNewestReadingEachPollUntilStopped) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  // Seven reports per poll: the class driver's queue would fill within 5 s.
  ASSERT_TRUE(VThermoSetInterval(VTHERMO_FIRST, 150));
  const HandleSnapshot handlesBefore = TakeHandleSnapshot();

  const TestClock::time_point start = TestClock::now();
  StartReader(window);
  EXPECT_EQ(appState.stopReader.load(), 0);
  EXPECT_EQ(appState.readerRunning.load(), 1);  // counted before it is scheduled

  Delivery delivery;
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 290);
  EXPECT_LE(SecondsBetween(start, delivery.time), 0.6);
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 290);
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 290);

  // Each value is set just after a delivery; the next poll must show it.
  struct Case {
    int16_t reported;
    int delivered;
  };
  const Case cases[] = {{300, 300}, {1000, 0}, {-1, 0}, {999, 999}, {0, 0}, {1, 1}, {310, 310}};
  for (const Case& c : cases) {
    ASSERT_TRUE(VThermoSetRaw(VTHERMO_FIRST, c.reported));
    ASSERT_TRUE(WaitForDelivery(&delivery)) << "reported " << c.reported;
    EXPECT_EQ(delivery.raw, c.delivered) << "reported " << c.reported;
  }

  // A silent device: at most the report that came before it fell silent,
  // then nothing, while the reader goes on polling.
  ASSERT_TRUE(VThermoSetRaw(VTHERMO_FIRST, 320));
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_FIRST, false));
  const TestClock::time_point silent = TestClock::now();
  Sleep(2700);
  const TestClock::time_point settled = TestClock::now();
  EXPECT_LE(DeliveriesSince(silent).size(), 1u);
  Sleep(4800);
  EXPECT_EQ(DeliveriesSince(settled).size(), 0u);
  EXPECT_EQ(appState.readerRunning.load(), 1);
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_FIRST, true));
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 320);

  // Raised just after a delivery: the reader ends after its sleep, with no
  // further delivery.
  ASSERT_TRUE(WaitForDelivery(&delivery));
  appState.stopReader.store(1);
  const TestClock::time_point raised = TestClock::now();
  ASSERT_TRUE(WaitUntil([] { return appState.readerRunning.load() == 0; }, seconds(4)));
  const double stopSeconds = SecondsBetween(raised, TestClock::now());
  EXPECT_GE(stopSeconds, 1.5);
  EXPECT_LE(stopSeconds, 2.6);
  Sleep(500);
  EXPECT_EQ(DeliveriesSince(raised).size(), 0u);

  // Polls were 2.0-2.3 s apart, except across the silence.
  std::vector<Delivery> all = Deliveries();
  for (size_t i = 1; i < all.size(); ++i) {
    if (all[i - 1].time < silent && all[i].time > settled) continue;
    double gap = SecondsBetween(all[i - 1].time, all[i].time);
    EXPECT_GE(gap, MIN_POLL_GAP_S) << "delivery " << i;
    EXPECT_LE(gap, MAX_POLL_GAP_S) << "delivery " << i;
  }
  // The device handle and the read event are closed; the thread is gone.
  EXPECT_TRUE(WaitUntil([&] { return NewHandlesSince(handlesBefore).empty(); }, seconds(2)))
      << testing::PrintToString(NewHandlesSince(handlesBefore));
}

// A report longer than the usual 12-byte buffer is read whole and decoded.
TEST_F(ReaderTest, ReadsADeviceWithALongReport) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_LONG_REPORT, 310));
  StartReader(window);
  Delivery delivery;
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 310);
  ASSERT_TRUE(VThermoSetRaw(VTHERMO_LONG_REPORT, 999));
  ASSERT_TRUE(WaitForDelivery(&delivery));
  EXPECT_EQ(delivery.raw, 999);
  ExpectOnePerPoll();
}

}  // namespace
