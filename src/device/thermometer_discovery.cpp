#include "thermometer.h"

#include <setupapi.h>

#include <vector>

#include "hid_api.h"
#include "thermometer_device.h"

namespace {

#ifndef _WIN64
// The sizes 32-bit SetupAPI insists on; a packing mistake would make every
// detail query fail.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "SP_DEVICE_INTERFACE_DETAIL_DATA_A layout");
#endif

// The device path of one interface, read into buffer, which grows to the
// size this interface needs (paths differ in length). nullptr when the
// detail cannot be read: the interface is then passed over.
const char* ReadInterfacePath(HDEVINFO deviceSet, SP_DEVICE_INTERFACE_DATA* interfaceData,
                              std::vector<char>& buffer) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(deviceSet, interfaceData, nullptr, 0, &required, nullptr);
  if (required <= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return nullptr;
  if (buffer.size() < required) buffer.resize(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(deviceSet, interfaceData, detail, required, nullptr,
                                        nullptr)) {
    return nullptr;
  }
  return detail->DevicePath;
}

BOOL IsThermometer(HANDLE device) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof(attributes);
  // Unread attributes must never count as a match.
  if (!HidD_GetAttributes(device, &attributes)) return FALSE;
  return attributes.VendorID == THERMOMETER_VENDOR_ID &&
         attributes.ProductID == THERMOMETER_PRODUCT_ID;
}

}  // namespace

BOOL FindThermometer(HANDLE* handleOut) {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO deviceSet =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (deviceSet == INVALID_HANDLE_VALUE) return FALSE;

  std::vector<char> detailBuffer;  // stays empty (nothing allocated) without interfaces
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof(interfaceData);
  BOOL found = FALSE;
  for (DWORD index = 0;
       !found && SetupDiEnumDeviceInterfaces(deviceSet, nullptr, &hidGuid, index, &interfaceData);
       ++index) {
    const char* path = ReadInterfacePath(deviceSet, &interfaceData, detailBuffer);
    if (path == nullptr) continue;
    // A device held exclusively elsewhere fails to open and is passed over.
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) continue;
    if (IsThermometer(device)) {
      *handleOut = device;
      found = TRUE;
    } else {
      CloseHandle(device);
    }
  }
  SetupDiDestroyDeviceInfoList(deviceSet);
  return found;
}
