// FindThermometer against the virtual thermometers and Wine's own HID devices.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: the process-status and SetupAPI headers build on it.
#include <psapi.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "device_test_support.h"
#include "hid_api.h"
#include "temperature_reading.h"
#include "thermometer.h"
#include "vthermo_control.h"
#include "vthermo_support.h"

namespace {

struct HidInterface {
  std::string path;
  int vendor;  // -1 when the attributes could not be read
  int product;
};

// Every present HID interface in enumeration order, with its identity.
std::vector<HidInterface> ListHidInterfaces() {
  std::vector<HidInterface> list;
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return list;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof(interfaceData);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &interfaceData); ++i) {
    HidInterface entry = {VThermoInterfacePath(set, &interfaceData), -1, -1};
    HANDLE device = CreateFileA(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
      HIDD_ATTRIBUTES attributes = {};
      attributes.Size = sizeof(attributes);
      if (HidD_GetAttributes(device, &attributes)) {
        entry.vendor = attributes.VendorID;
        entry.product = attributes.ProductID;
      }
      CloseHandle(device);
    }
    list.push_back(entry);
  }
  SetupDiDestroyDeviceInfoList(set);
  return list;
}

std::string Describe(const std::vector<HidInterface>& list) {
  std::string text = "HID interfaces in enumeration order:";
  for (const HidInterface& entry : list) {
    text += "\n  " + entry.path + " vid " + std::to_string(entry.vendor) + " pid " +
            std::to_string(entry.product);
  }
  return text;
}

int FirstIndexOf(const std::vector<HidInterface>& list, int vendor, int product) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].vendor == vendor && list[i].product == product) return static_cast<int>(i);
  }
  return -1;
}

// One input report from an open device, decoded; -1 when none came.
int ReadOneRaw(HANDLE device) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(device, &preparsed)) return -1;
  HIDP_CAPS caps = {};
  HidP_GetCaps(preparsed, &caps);
  HidD_FreePreparsedData(preparsed);
  std::vector<unsigned char> buffer(std::max<size_t>(caps.InputReportByteLength, 3));
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD bytes = 0;
  int raw = -1;
  if (ReadFile(device, buffer.data(), caps.InputReportByteLength, &bytes, &overlapped) ||
      GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(overlapped.hEvent, 3000) != WAIT_OBJECT_0) CancelIo(device);
    if (GetOverlappedResult(device, &overlapped, &bytes, TRUE) && bytes >= 3) {
      raw = DecodeReport(buffer.data());
    }
  }
  CloseHandle(overlapped.hEvent);
  return raw;
}

size_t PagefileUsage() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StopAnyReader());
    ASSERT_TRUE(VThermoUnplugAll());
  }
};

TEST_F(DiscoveryTest, AbsentThermometerLeavesNoHandleOrMemoryBehind) {
  // A non-matching device must be opened, looked at and closed again.
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 290));
  std::vector<HidInterface> list = ListHidInterfaces();
  SCOPED_TRACE(Describe(list));
  ASSERT_GE(FirstIndexOf(list, 0x0000, 0x0004), 0);
  ASSERT_EQ(FirstIndexOf(list, 0x0000, 0x0003), -1);

  HANDLE handle = nullptr;
  ASSERT_FALSE(FindThermometer(&handle));  // the first call loads what SetupAPI needs
  const HandleSnapshot handlesBefore = TakeHandleSnapshot();
  const size_t memoryBefore = PagefileUsage();
  ASSERT_FALSE(handlesBefore.empty());
  for (int i = 0; i < 200; ++i) ASSERT_FALSE(FindThermometer(&handle));
  EXPECT_EQ(NewHandlesSince(handlesBefore), std::vector<std::string>());
  // 200 leaked detail buffers or device sets would show; allocator noise stays below.
  EXPECT_LT(PagefileUsage(), memoryBefore + 64 * 1024);
}

// The long-report thermometer enumerates after the other device and after
// Wine's own mouse and keyboard: the search must pass over all of them.
TEST_F(DiscoveryTest, FindsThermometerPastOtherHidDevicesAndClosesThem) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 250));
  ASSERT_TRUE(VThermoPlug(VTHERMO_LONG_REPORT, 310));
  std::vector<HidInterface> list = ListHidInterfaces();
  SCOPED_TRACE(Describe(list));
  const int thermometer = FirstIndexOf(list, 0x0000, 0x0003);
  ASSERT_GT(thermometer, FirstIndexOf(list, 0x0000, 0x0004));
  ASSERT_GT(thermometer, FirstIndexOf(list, 0x845e, 0x0001));
  ASSERT_GT(thermometer, FirstIndexOf(list, 0x845e, 0x0002));
  ASSERT_GE(FirstIndexOf(list, 0x845e, 0x0001), 0);

  HANDLE handle = nullptr;
  ASSERT_TRUE(FindThermometer(&handle));
  CloseHandle(handle);
  const HandleSnapshot handlesBefore = TakeHandleSnapshot();
  ASSERT_TRUE(FindThermometer(&handle));
  // Exactly one handle more: the thermometer's; every other device was closed.
  EXPECT_EQ(NewHandlesSince(handlesBefore).size(), 1u);
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof(attributes);
  ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x0000);
  EXPECT_EQ(attributes.ProductID, 0x0003);
  EXPECT_EQ(ReadOneRaw(handle), 310);  // opened for overlapped reading
  CloseHandle(handle);
  EXPECT_EQ(NewHandlesSince(handlesBefore), std::vector<std::string>());
}

TEST_F(DiscoveryTest, OfTwoThermometersOpensTheOneEnumeratedFirst) {
  // Plugged in the reverse order: enumeration order decides, not arrival.
  ASSERT_TRUE(VThermoPlug(VTHERMO_SECOND, 300));
  ASSERT_TRUE(VThermoPlug(VTHERMO_FIRST, 290));
  std::vector<HidInterface> list = ListHidInterfaces();
  SCOPED_TRACE(Describe(list));
  const int first = FirstIndexOf(list, 0x0000, 0x0003);
  ASSERT_GE(first, 0);
  const int expectedRaw = list[first].path.find("#0000#") != std::string::npos ? 290 : 300;

  HANDLE handle = nullptr;
  ASSERT_TRUE(FindThermometer(&handle));
  EXPECT_EQ(ReadOneRaw(handle), expectedRaw);
  CloseHandle(handle);
}

// The detail record's size differs per interface: a thermometer enumerated
// after an interface with a shorter path must still be found by its own path.
TEST_F(DiscoveryTest, ReadsALaterLongerPathInFull) {
  ASSERT_TRUE(VThermoPlug(VTHERMO_OTHER, 250));
  ASSERT_TRUE(VThermoPlug(VTHERMO_SECOND, 300));
  std::vector<HidInterface> list = ListHidInterfaces();
  SCOPED_TRACE(Describe(list));
  const int thermometer = FirstIndexOf(list, 0x0000, 0x0003);
  ASSERT_GE(thermometer, 0);
  ASSERT_GT(thermometer, 0);
  ASSERT_GT(list[thermometer].path.size(), list[0].path.size());
  HANDLE handle = nullptr;
  ASSERT_TRUE(FindThermometer(&handle));
  EXPECT_EQ(ReadOneRaw(handle), 300);
  CloseHandle(handle);
}

}  // namespace
