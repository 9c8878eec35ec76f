// Arrival and removal: OnDeviceChange's decisions, and real plugging of the
// virtual thermometer seen through the test window's notifications.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: dbt.h builds on it.
#include <dbt.h>

#include <vector>

#include "app_state.h"
#include "device_test_support.h"
#include "thermometer.h"
#include "vthermo_control.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

size_t CountEvents(WPARAM event) {
  size_t count = 0;
  for (const DeviceEvent& recorded : DeviceEvents()) {
    if (recorded.event == event) ++count;
  }
  return count;
}

bool DeliveredSince(TestClock::time_point since, int raw) {
  for (const Delivery& delivery : DeliveriesSince(since)) {
    if (delivery.raw == raw) return true;
  }
  return false;
}

class DeviceChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StopAnyReader());
    ASSERT_TRUE(VThermoUnplugAll());
  }
  void TearDown() override {
    EXPECT_TRUE(StopAnyReader());
    CloseTestWindow();
  }

  // Waits until the window has seen `count` events of the kind and handled them.
  bool WaitForEvents(WPARAM event, size_t count) {
    if (!WaitUntil([&] { return CountEvents(event) >= count; }, seconds(5))) return false;
    // Handled by now: the window answers this only after the handler returned.
    SendMessageA(window, WM_NULL, 0, 0);
    return true;
  }

  HWND window = nullptr;
};

// Each row of the device-change table, driven by sent messages with the
// flags and the device's presence set up first.
TEST_F(DeviceChangeTest, ActsByEventReaderWantedAndPresence) {
  window = OpenTestWindow(TestWindowKind::Quiet);
  ASSERT_NE(window, nullptr);
  struct Row {
    WPARAM event;
    bool plugged;
    int32_t stopReader;
    bool startsReader;
    bool goesToNoReading;
  };
  // Grouped by presence, so the device is plugged once.
  const Row rows[] = {
      {DBT_DEVNODES_CHANGED, false, 1, false, false},
      {DBT_DEVNODES_CHANGED, false, 0, false, true},
      {DBT_DEVICEARRIVAL, false, 1, false, false},
      {DBT_DEVICEARRIVAL, false, 0, false, false},
      {DBT_DEVICEREMOVECOMPLETE, false, 0, false, true},
      {DBT_DEVICEREMOVECOMPLETE, false, 1, false, false},
      {DBT_DEVICEREMOVEPENDING, false, 0, false, false},
      {DBT_DEVNODES_CHANGED, true, 0, false, false},
      {DBT_DEVICEARRIVAL, true, 0, false, false},
      {DBT_DEVICEREMOVECOMPLETE, true, 0, false, false},
      {DBT_DEVICEREMOVECOMPLETE, true, 1, false, false},
      {DBT_DEVICEQUERYREMOVE, true, 1, false, false},
      {DBT_DEVNODES_CHANGED, true, 1, true, false},
      {DBT_DEVICEARRIVAL, true, 1, true, false},
  };
  bool plugged = false;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "event 0x" << std::hex << row.event << std::dec
                                    << " plugged " << row.plugged << " stopReader "
                                    << row.stopReader);
    if (row.plugged && !plugged) {
      ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
      plugged = true;
    }
    appState.stopReader.store(row.stopReader);
    appState.devicePresent = row.plugged ? 0 : 1;  // the probe must overwrite it
    const TestClock::time_point sent = TestClock::now();
    SendMessageA(window, WM_DEVICECHANGE, row.event, 0);
    EXPECT_EQ(appState.devicePresent, row.plugged ? 1 : 0);
    EXPECT_EQ(appState.readerRunning.load(), row.startsReader ? 1 : 0);
    const int32_t stopAfter = row.startsReader ? 0 : row.goesToNoReading ? 1 : row.stopReader;
    EXPECT_EQ(appState.stopReader.load(), stopAfter);
    // The no-reading value is delivered before the handler returns.
    EXPECT_EQ(DeliveriesSince(sent).size(), row.goesToNoReading ? 1u : 0u);
    if (row.goesToNoReading) {
      EXPECT_EQ(DeliveriesSince(sent)[0].raw, 0);
    }
    if (row.startsReader) {
      EXPECT_TRUE(WaitUntil([&] { return DeliveredSince(sent, 290); }, seconds(3)));
      ASSERT_TRUE(StopAnyReader());
    }
  }
}

// Plugging for real: the window's own notifications start and stop readers.
TEST_F(DeviceChangeTest, PlugStartsReaderOtherDevicesChangeNothingUnplugStopsAtOnce) {
  window = OpenTestWindow(TestWindowKind::Main);
  ASSERT_NE(window, nullptr);

  // Absent and not wanted: another device's arrival only probes.
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 250));
  ASSERT_TRUE(WaitForEvents(DBT_DEVICEARRIVAL, 1));
  EXPECT_EQ(appState.stopReader.load(), 1);
  EXPECT_EQ(appState.readerRunning.load(), 0);
  EXPECT_EQ(appState.devicePresent, 0);
  EXPECT_TRUE(Deliveries().empty());

  const TestClock::time_point plugged = TestClock::now();
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  ASSERT_TRUE(WaitUntil([&] { return DeliveredSince(plugged, 290); }, seconds(4)));
  EXPECT_EQ(appState.stopReader.load(), 0);
  EXPECT_EQ(appState.readerRunning.load(), 1);
  EXPECT_EQ(appState.devicePresent, 1);
  EXPECT_GT(CountEvents(DBT_DEVNODES_CHANGED), 0u);  // the broadcast reaches this window

  // Another device leaving and arriving while the thermometer runs.
  const size_t arrivals = CountEvents(DBT_DEVICEARRIVAL);
  const size_t removals = CountEvents(DBT_DEVICEREMOVECOMPLETE);
  const TestClock::time_point otherMoved = TestClock::now();
  ASSERT_TRUE(VThermoUnplug(VTHERMO_OTHER));
  ASSERT_TRUE(WaitForEvents(DBT_DEVICEREMOVECOMPLETE, removals + 1));
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 250));
  ASSERT_TRUE(WaitForEvents(DBT_DEVICEARRIVAL, arrivals + 1));
  EXPECT_EQ(appState.stopReader.load(), 0);
  EXPECT_EQ(appState.readerRunning.load(), 1);
  ASSERT_TRUE(WaitUntil([&] { return DeliveriesSince(otherMoved).size() >= 2; }, seconds(6)));
  for (const Delivery& delivery : DeliveriesSince(otherMoved)) EXPECT_EQ(delivery.raw, 290);

  // Unplugged just after a delivery: no-reading at once, the reader ends later.
  const size_t seen = Deliveries().size();
  ASSERT_TRUE(WaitUntil([&] { return Deliveries().size() > seen; }, seconds(4)));
  const TestClock::time_point pulled = TestClock::now();
  ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
  ASSERT_TRUE(WaitUntil([&] { return DeliveredSince(pulled, 0); }, seconds(3)));
  EXPECT_LE(SecondsBetween(pulled, DeliveriesSince(pulled)[0].time), 1.0);
  EXPECT_EQ(appState.stopReader.load(), 1);
  EXPECT_EQ(appState.readerRunning.load(), 1);  // not waited for
  EXPECT_TRUE(WaitUntil([] { return appState.readerRunning.load() == 0; }, seconds(3)));
  Sleep(300);
  for (const Delivery& delivery : DeliveriesSince(pulled)) EXPECT_EQ(delivery.raw, 0);
}

// Re-plugged while the reader sleeps: the same reader goes on with the new
// device, never a second one beside it.
TEST_F(DeviceChangeTest, ReplugWithinTheSleepReadsTheNewDeviceWithOneReader) {
  window = OpenTestWindow(TestWindowKind::Main);
  ASSERT_NE(window, nullptr);
  const long threadsWithoutReader = CountProcessThreads();
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  ASSERT_TRUE(WaitUntil([] { return DeliveredSince(TestClock::time_point(), 290); }, seconds(4)));
  EXPECT_EQ(CountProcessThreads(), threadsWithoutReader + 1);

  for (int16_t raw : {330, 340}) {
    SCOPED_TRACE(testing::Message() << "re-plug with " << raw);
    const size_t seen = Deliveries().size();
    ASSERT_TRUE(WaitUntil([&] { return Deliveries().size() > seen; }, seconds(4)));
    const TestClock::time_point pulled = TestClock::now();
    ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
    ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, raw));
    // Both within the reader's sleep, or the test proves nothing.
    ASSERT_LT(SecondsBetween(pulled, TestClock::now()), 1.5);
    ASSERT_TRUE(WaitUntil([&] { return DeliveredSince(pulled, raw); }, seconds(5)));
    EXPECT_TRUE(DeliveredSince(pulled, 0));
    EXPECT_EQ(appState.stopReader.load(), 0);
    EXPECT_EQ(appState.readerRunning.load(), 1);
    EXPECT_EQ(CountProcessThreads(), threadsWithoutReader + 1);
  }
  // One reader: the readings keep the poll's pace.
  const TestClock::time_point settled = TestClock::now();
  ASSERT_TRUE(WaitUntil([&] { return DeliveriesSince(settled).size() >= 3; }, seconds(8)));
  std::vector<Delivery> after = DeliveriesSince(settled);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].raw, 340);
    if (i > 0) {
      EXPECT_GE(SecondsBetween(after[i - 1].time, after[i].time), 1.9);
    }
  }
  EXPECT_EQ(CountProcessThreads(), threadsWithoutReader + 1);

  // The close sequence's view: once readerRunning falls, no reader is left.
  appState.stopReader.store(1);
  ASSERT_TRUE(WaitUntil([] { return appState.readerRunning.load() == 0; }, seconds(4)));
  const TestClock::time_point ended = TestClock::now();
  EXPECT_TRUE(WaitUntil([&] { return CountProcessThreads() == threadsWithoutReader; }, seconds(2)));
  Sleep(2500);
  EXPECT_TRUE(DeliveriesSince(ended).empty());
}

// A reader whose own search failed leaves stopReader at 0: arrivals start
// nothing until an event finds the thermometer absent.
TEST_F(DeviceChangeTest, ReaderWhoseSearchFailedBlocksArrivalsUntilAbsenceIsSeen) {
  window = OpenTestWindow(TestWindowKind::Main);
  ASSERT_NE(window, nullptr);
  StartReader(window);  // as if the device went away after the starter's probe
  ASSERT_TRUE(WaitUntil([] { return appState.readerRunning.load() == 0; }, seconds(3)));
  EXPECT_EQ(appState.stopReader.load(), 0);

  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  ASSERT_TRUE(WaitForEvents(DBT_DEVICEARRIVAL, 1));
  EXPECT_EQ(appState.devicePresent, 1);
  EXPECT_EQ(appState.readerRunning.load(), 0);
  EXPECT_EQ(appState.stopReader.load(), 0);
  Sleep(2500);  // a reader, had one started, would have delivered by now
  EXPECT_TRUE(Deliveries().empty());

  const TestClock::time_point pulled = TestClock::now();
  ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
  ASSERT_TRUE(WaitUntil([&] { return DeliveredSince(pulled, 0); }, seconds(3)));
  EXPECT_EQ(appState.stopReader.load(), 1);

  const TestClock::time_point replugged = TestClock::now();
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 295));
  ASSERT_TRUE(WaitUntil([&] { return DeliveredSince(replugged, 295); }, seconds(4)));
  EXPECT_EQ(appState.readerRunning.load(), 1);
}

}  // namespace
