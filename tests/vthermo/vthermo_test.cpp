// The virtual thermometer as a program sees it through Wine's HID stack:
// SetupDi enumeration, hid.dll and overlapped ReadFile only, as the
// program's own device code uses them.
#include <windows.h>
// windows.h first: the SetupAPI, HID and notification headers build on it;
// mingw's HID headers declare no C linkage of their own.
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
// hidsdi.h brings the usage types hidpi.h needs.
#include <hidpi.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vthermo_control.h"
#include "vthermo_ioctl.h"
#include "vthermo_support.h"

namespace {

// Timing under Wine on a shared machine varies: the allowance on top of
// a report interval before a report counts as late.
const DWORD kLateMs = 300;
const DWORD kWaitMs = 5000;

struct HidDevice {
  std::string path;
  USHORT vendor = 0;
  USHORT product = 0;
  USHORT inputLength = 0;
  USAGE usagePage = 0;
};

// Closes the handle on every path out of a test, failed assertions too.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Opened as the program opens the thermometer; empty if it cannot be.
UniqueHandle OpenDevice(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// Every present HID interface in enumeration order, with what the program
// would learn from it.
std::vector<HidDevice> EnumerateHid() {
  std::vector<HidDevice> devices;
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVICE_INTERFACE_DATA iface = {};
  iface.cbSize = sizeof(iface);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
    HidDevice device;
    device.path = VThermoInterfacePath(set, &iface);
    UniqueHandle opened = OpenDevice(device.path);
    if (opened) {
      HANDLE handle = opened.get();
      HIDD_ATTRIBUTES attributes = {};
      attributes.Size = sizeof(attributes);
      if (HidD_GetAttributes(handle, &attributes)) {
        device.vendor = attributes.VendorID;
        device.product = attributes.ProductID;
      }
      PHIDP_PREPARSED_DATA preparsed = nullptr;
      if (HidD_GetPreparsedData(handle, &preparsed)) {
        HIDP_CAPS caps = {};
        if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
          device.inputLength = caps.InputReportByteLength;
          device.usagePage = caps.UsagePage;
        }
        HidD_FreePreparsedData(preparsed);
      }
    }
    devices.push_back(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

std::vector<HidDevice> WithIdentity(USHORT vendor, USHORT product) {
  std::vector<HidDevice> matching;
  for (const HidDevice& device : EnumerateHid()) {
    if (device.vendor == vendor && device.product == product) matching.push_back(device);
  }
  return matching;
}

enum class ReadResult { Completed, TimedOut, Failed };

// One overlapped read of `length` bytes, waited for at most timeoutMs; on a
// time-out the read is cancelled and its cancellation waited for, so the
// buffer is free again.
ReadResult ReadReport(HANDLE device, DWORD length, DWORD timeoutMs, std::vector<uint8_t>* report,
                      DWORD* error = nullptr) {
  report->assign(length, 0xCC);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = event;
  DWORD transferred = 0;
  ReadResult result = ReadResult::Completed;
  if (!ReadFile(device, report->data(), length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
    result = ReadResult::Failed;
  } else if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
    CancelIo(device);
    // The buffer stays the read's until the cancellation completes: no safe
    // way on if it never does.
    if (WaitForSingleObject(event, kWaitMs) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "CancelIo did not complete the pending read\n");
      std::abort();
    }
    GetOverlappedResult(device, &overlapped, &transferred, FALSE);
    result = ReadResult::TimedOut;
  } else if (!GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
    result = ReadResult::Failed;
  } else {
    report->resize(transferred);
  }
  if (error) *error = result == ReadResult::Completed ? 0 : GetLastError();
  CloseHandle(event);
  return result;
}

int16_t ValueOf(const std::vector<uint8_t>& report) {
  return static_cast<int16_t>(static_cast<uint16_t>(report[1] | (report[2] << 8)));
}

uint32_t ReportsDelivered(VThermoUnit unit) {
  VThermoStatus status = {};
  EXPECT_TRUE(VThermoGetStatus(unit, &status));
  return status.reportsDelivered;
}

// Each test starts and ends with nothing plugged.
class VThermoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(VThermoUnplugAll()); }
  void TearDown() override { EXPECT_TRUE(VThermoUnplugAll()); }

  // Plugs a unit and opens it as the program would, by its identity.
  UniqueHandle PlugAndOpen(VThermoUnit unit, int16_t raw, USHORT product = 0x0003) {
    EXPECT_TRUE(VThermoPlug(unit, raw));
    std::vector<HidDevice> found = WithIdentity(0x0000, product);
    EXPECT_EQ(found.size(), 1u);
    if (found.size() != 1) return UniqueHandle();
    inputLength_ = found[0].inputLength;
    return OpenDevice(found[0].path);
  }

  DWORD inputLength_ = 0;
};

TEST_F(VThermoTest, IsFoundAmongWinesOwnHidDevicesAndGoesWhenUnplugged) {
  ASSERT_TRUE(WithIdentity(0x0000, 0x0003).empty());
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));

  std::vector<HidDevice> devices = EnumerateHid();
  int thermometers = 0;
  int others = 0;
  for (const HidDevice& device : devices) {
    if (device.vendor == 0x0000 && device.product == 0x0003) {
      ++thermometers;
      EXPECT_EQ(device.inputLength, 3u);
      EXPECT_GE(device.usagePage, 0xFF00u) << "not a vendor-defined collection";
      EXPECT_NE(device.path.find("vid_0000&pid_0003"), std::string::npos) << device.path;
    } else if (!device.path.empty()) {
      ++others;
    }
  }
  EXPECT_EQ(thermometers, 1);
  EXPECT_GE(others, 1) << "Wine's own HID devices were expected beside it";

  VThermoStatus status = {};
  ASSERT_TRUE(VThermoGetStatus(VTHERMO_FIRST, &status));
  EXPECT_TRUE(status.plugged);
  EXPECT_EQ(status.raw, 290);
  EXPECT_TRUE(status.answering);

  ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
  EXPECT_TRUE(WithIdentity(0x0000, 0x0003).empty());
  ASSERT_TRUE(VThermoGetStatus(VTHERMO_FIRST, &status));
  EXPECT_FALSE(status.plugged);
}

TEST_F(VThermoTest, ValueSetIsReadWithinOneInterval) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  const DWORD interval = 200;
  ASSERT_TRUE(VThermoSetInterval(VTHERMO_FIRST, interval));
  const int16_t values[] = {290, 1, 999, 0, -1, -273, 1000, 32767, -32768, 273};
  std::vector<HidDevice> found = WithIdentity(0x0000, 0x0003);
  ASSERT_EQ(found.size(), 1u);
  for (int16_t value : values) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(VThermoSetRaw(VTHERMO_FIRST, value));
    // A fresh handle: hidclass queues reports per handle from its opening.
    UniqueHandle device = OpenDevice(found[0].path);
    ASSERT_TRUE(device);
    ULONGLONG start = GetTickCount64();
    std::vector<uint8_t> report;
    EXPECT_EQ(ReadReport(device.get(), 3, interval + kWaitMs, &report), ReadResult::Completed);
    ULONGLONG elapsed = GetTickCount64() - start;
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0], 0) << "no report ID: hidclass delivers 0";
    EXPECT_EQ(ValueOf(report), value);
    EXPECT_LE(elapsed, interval + kLateMs);
  }
}

TEST_F(VThermoTest, SilentDeviceKeepsReadsPendingUntilItAnswersAgain) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_FIRST, false));
  std::vector<HidDevice> found = WithIdentity(0x0000, 0x0003);
  ASSERT_EQ(found.size(), 1u);
  UniqueHandle device = OpenDevice(found[0].path);
  ASSERT_TRUE(device);

  uint32_t before = ReportsDelivered(VTHERMO_FIRST);
  std::vector<uint8_t> report;
  // The program's own wait: 300 ms, then CancelIo, which must complete.
  for (int i = 0; i < 3; ++i) {
    ULONGLONG start = GetTickCount64();
    DWORD error = 0;
    EXPECT_EQ(ReadReport(device.get(), 3, 300, &report, &error), ReadResult::TimedOut);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_GE(GetTickCount64() - start, 290u);
  }
  EXPECT_EQ(ReportsDelivered(VTHERMO_FIRST), before);
  VThermoStatus status = {};
  ASSERT_TRUE(VThermoGetStatus(VTHERMO_FIRST, &status));
  EXPECT_FALSE(status.answering);

  ASSERT_TRUE(VThermoSetRaw(VTHERMO_FIRST, 300));
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_FIRST, true));
  ASSERT_EQ(ReadReport(device.get(), 3, VTHERMO_DEFAULT_INTERVAL_MS + kLateMs, &report), ReadResult::Completed);
  EXPECT_EQ(ValueOf(report), 300);
}

TEST_F(VThermoTest, UnplugReleasesAPendingRead) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_FIRST, false));
  std::vector<HidDevice> found = WithIdentity(0x0000, 0x0003);
  ASSERT_EQ(found.size(), 1u);
  UniqueHandle device = OpenDevice(found[0].path);
  ASSERT_TRUE(device);
  std::vector<uint8_t> buffer(3);
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped = {};
  overlapped.hEvent = event.get();
  EXPECT_FALSE(ReadFile(device.get(), buffer.data(), 3, nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  EXPECT_TRUE(VThermoUnplug(VTHERMO_FIRST));
  EXPECT_EQ(WaitForSingleObject(event.get(), kWaitMs), WAIT_OBJECT_0);
  DWORD transferred = 0;
  EXPECT_FALSE(GetOverlappedResult(device.get(), &overlapped, &transferred, TRUE));
  // A read on the gone device fails at once (Wine: access denied).
  std::vector<uint8_t> report;
  EXPECT_EQ(ReadReport(device.get(), 3, kWaitMs, &report), ReadResult::Failed);
}

TEST_F(VThermoTest, ReportsArePacedAtTheIntervalSet) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  const uint32_t intervals[] = {50, 400};
  for (uint32_t interval : intervals) {
    SCOPED_TRACE(interval);
    ASSERT_TRUE(VThermoSetInterval(VTHERMO_FIRST, interval));
    VThermoStatus status = {};
    ASSERT_TRUE(VThermoGetStatus(VTHERMO_FIRST, &status));
    EXPECT_EQ(status.intervalMs, interval);
    // A rate is measured over a span of time, so here a fixed span it is.
    uint32_t before = status.reportsDelivered;
    const DWORD span = 1600;
    Sleep(span);
    uint32_t delivered = ReportsDelivered(VTHERMO_FIRST) - before;
    EXPECT_GE(delivered, span / interval / 2);
    EXPECT_LE(delivered, span / interval * 3 / 2 + 1);
  }
}

// hidclass keeps up to 32 reports per open handle, as Windows does: a
// reader slower than the device sees old values first.
TEST_F(VThermoTest, HidclassQueuesReportsPerHandle) {
  UniqueHandle device = PlugAndOpen(VTHERMO_FIRST, 280);
  ASSERT_TRUE(device);
  ASSERT_TRUE(VThermoSetInterval(VTHERMO_FIRST, 10));
  uint32_t start = ReportsDelivered(VTHERMO_FIRST);
  ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (ReportsDelivered(VTHERMO_FIRST) < start + 40 && GetTickCount64() < deadline) Sleep(20);
  ASSERT_TRUE(VThermoSetRaw(VTHERMO_FIRST, 290));

  std::vector<uint8_t> report;
  int oldReports = 0;
  for (;;) {
    ASSERT_EQ(ReadReport(device.get(), 3, kWaitMs, &report), ReadResult::Completed);
    if (ValueOf(report) != 280) break;
    ++oldReports;
    ASSERT_LE(oldReports, 40);
  }
  EXPECT_EQ(ValueOf(report), 290);
  EXPECT_GE(oldReports, 16) << "the queue of old reports was expected";
}

// Counts HID interface notifications in a top-level window of its own
// thread, so they arrive while the test waits for the device.
struct NotificationWindow {
  std::atomic<int> arrivals{0};
  std::atomic<int> removals{0};
  std::atomic<int> nodesChanged{0};
  std::atomic<HWND> window{nullptr};
  std::atomic<DWORD> threadId{0};
  std::thread thread;

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NotificationWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_DEVICECHANGE && self) {
      auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
      bool hidInterface = header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
      if (wParam == DBT_DEVICEARRIVAL && hidInterface) ++self->arrivals;
      if (wParam == DBT_DEVICEREMOVECOMPLETE && hidInterface) ++self->removals;
      if (wParam == DBT_DEVNODES_CHANGED) ++self->nodesChanged;
      return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  void Run() {
    threadId = GetCurrentThreadId();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VThermoTestNotifications";
    RegisterClassA(&windowClass);
    HWND hwnd = CreateWindowA(windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    HDEVNOTIFY notify = RegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    window = notify ? hwnd : HWND(HWND_MESSAGE);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    if (notify) UnregisterDeviceNotification(notify);
    DestroyWindow(hwnd);
    UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
  }

  bool Start() {
    thread = std::thread([this] { Run(); });
    ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (!window && GetTickCount64() < deadline) Sleep(5);
    return window && window != HWND(HWND_MESSAGE);
  }

  ~NotificationWindow() {
    if (!thread.joinable()) return;
    while (!threadId) Sleep(5);
    // The thread may not have its message queue yet: post until it takes.
    while (!PostThreadMessageA(threadId, WM_QUIT, 0, 0)) Sleep(5);
    thread.join();
  }

  static bool WaitFor(const std::atomic<int>& counter, int value) {
    ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (counter < value && GetTickCount64() < deadline) Sleep(2);
    return counter >= value;
  }
};

TEST_F(VThermoTest, EachPlugAndUnplugNotifiesARegisteredWindowOnce) {
  NotificationWindow notifications;
  ASSERT_TRUE(notifications.Start());
  const int cycles = 10;
  for (int i = 1; i <= cycles; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
    EXPECT_TRUE(NotificationWindow::WaitFor(notifications.arrivals, i));
    EXPECT_EQ(notifications.removals, i - 1);
    ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
    EXPECT_TRUE(NotificationWindow::WaitFor(notifications.removals, i));
    EXPECT_EQ(notifications.arrivals, i);
  }
  // Late duplicates would show here.
  Sleep(200);
  EXPECT_EQ(notifications.arrivals, cycles);
  EXPECT_EQ(notifications.removals, cycles);
  EXPECT_GE(notifications.nodesChanged, 2 * cycles);
}

TEST_F(VThermoTest, EveryUnitHasItsOwnPathIdentityAndValue) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_LONG_REPORT, 320));
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 310));
  ASSERT_TRUE(VThermoPlug(VTHERMO_SECOND, 300));
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));

  // Enumeration follows the device paths, not the order of plugging: the
  // non-matching device first, then the thermometers as first, second,
  // Wine's own devices, and the long-report thermometer last.
  std::vector<HidDevice> all = EnumerateHid();
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(all[0].product, 0x0004);
  EXPECT_EQ(all[all.size() - 2].vendor, 0x845e);
  EXPECT_EQ(all.back().inputLength, 32u);
  // The second thermometer's path needs more room than the one before it.
  EXPECT_GT(all[2].path.size(), all[0].path.size());
  std::vector<HidDevice> thermometers = WithIdentity(0x0000, 0x0003);
  ASSERT_EQ(thermometers.size(), 3u);
  const int16_t expected[] = {290, 300, 320};
  const USHORT lengths[] = {3, 3, 32};
  for (size_t i = 0; i < thermometers.size(); ++i) {
    SCOPED_TRACE(thermometers[i].path);
    EXPECT_EQ(thermometers[i].inputLength, lengths[i]);
    UniqueHandle device = OpenDevice(thermometers[i].path);
    ASSERT_TRUE(device);
    std::vector<uint8_t> report;
    EXPECT_EQ(ReadReport(device.get(), thermometers[i].inputLength, kWaitMs, &report), ReadResult::Completed);
    if (report.size() >= 3) {
      EXPECT_EQ(ValueOf(report), expected[i]);
    }
  }
  std::vector<HidDevice> other = WithIdentity(0x0000, 0x0004);
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].inputLength, 3u);

  std::vector<std::string> paths = {thermometers[0].path, thermometers[1].path, thermometers[2].path, other[0].path};
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = i + 1; j < paths.size(); ++j) EXPECT_NE(paths[i], paths[j]);
  }

  // With the first unplugged, the second is the first thermometer.
  ASSERT_TRUE(VThermoUnplug(VTHERMO_FIRST));
  thermometers = WithIdentity(0x0000, 0x0003);
  ASSERT_EQ(thermometers.size(), 2u);
  EXPECT_EQ(thermometers[0].inputLength, 3u);
  EXPECT_EQ(thermometers[1].inputLength, 32u);
}

TEST_F(VThermoTest, LongReportUnitReportsMoreThanTwelveBytes) {
  UniqueHandle device = PlugAndOpen(VTHERMO_LONG_REPORT, 250);
  ASSERT_TRUE(device);
  EXPECT_EQ(inputLength_, 32u);
  std::vector<uint8_t> report;
  ASSERT_EQ(ReadReport(device.get(), 32, kWaitMs, &report), ReadResult::Completed);
  ASSERT_EQ(report.size(), 32u);
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(ValueOf(report), 250);
  for (size_t i = 3; i < report.size(); ++i) EXPECT_EQ(report[i], 0xEE) << i;
}

TEST_F(VThermoTest, ChangesToAnUnpluggedUnitFail) {
  EXPECT_FALSE(VThermoSetRaw(VTHERMO_SECOND, 290));
  EXPECT_FALSE(VThermoSetInterval(VTHERMO_SECOND, 200));
  EXPECT_FALSE(VThermoSetAnswering(VTHERMO_SECOND, false));
  ASSERT_TRUE(VThermoPlug(VTHERMO_SECOND, 290));
  EXPECT_FALSE(VThermoSetInterval(VTHERMO_SECOND, 0));
  // Plugging a plugged unit starts it afresh with the new value.
  ASSERT_TRUE(VThermoSetInterval(VTHERMO_SECOND, 10));
  ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (ReportsDelivered(VTHERMO_SECOND) < 20 && GetTickCount64() < deadline) Sleep(10);
  ASSERT_TRUE(VThermoSetAnswering(VTHERMO_SECOND, false));
  ASSERT_TRUE(VThermoPlug(VTHERMO_SECOND, 310));
  VThermoStatus status = {};
  ASSERT_TRUE(VThermoGetStatus(VTHERMO_SECOND, &status));
  EXPECT_TRUE(status.plugged);
  EXPECT_EQ(status.raw, 310);
  EXPECT_TRUE(status.answering);
  EXPECT_EQ(status.intervalMs, static_cast<uint32_t>(VTHERMO_DEFAULT_INTERVAL_MS));
  EXPECT_LT(status.reportsDelivered, 5u) << "the count starts again at a plug";
}

}  // namespace
