// Plugs a unit by creating its root-enumerated device node and installing
// the driver from vthermo.inf on it, as Windows' device installer does;
// unplugs by removing the node. Values and pacing go to the driver's
// control device.
#include "vthermo_control.h"

#include <windows.h>
// windows.h first: the SetupAPI and HID headers build on it; mingw's
// hidsdi.h declares no C linkage of its own.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "vthermo_ioctl.h"
#include "vthermo_support.h"

namespace {

// GUID_DEVCLASS_HIDCLASS, the setup class of HID devices.
const GUID kHidSetupClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

const char* const kInstanceIds[VTHERMO_UNIT_COUNT] = {
    VTHERMO_INSTANCE_FIRST,
    VTHERMO_INSTANCE_SECOND,
    VTHERMO_INSTANCE_OTHER,
    VTHERMO_INSTANCE_LONG_REPORT,
};

// The hardware ID the INF matches; all units share it.
const char kHardwareIds[] = "ROOT\\QUORVEL_VTHERMO\0";

bool ValidUnit(VThermoUnit unit) {
  return unit >= VTHERMO_FIRST && unit <= VTHERMO_LONG_REPORT;
}

// "ROOT\VID_0000&PID_0003\0000" -> "#vid_0000&pid_0003#0000#", the part of
// the HID interface path that hidclass builds from the parent's IDs.
std::string PathPart(VThermoUnit unit) {
  std::string id = kInstanceIds[unit];
  std::string part = "#" + id.substr(id.find('\\') + 1) + "#";
  for (char& c : part) {
    if (c == '\\') c = '#';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return part;
}

bool WriteStartingRaw(VThermoUnit unit, int16_t raw) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, VTHERMO_REGISTRY_KEY, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  char name[8];
  std::snprintf(name, sizeof(name), "Raw%d", static_cast<int>(unit));
  DWORD value = static_cast<uint16_t>(raw);
  bool ok = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
            ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool DriverRequest(VThermoUnit unit, VThermoOperation operation, int value, VThermoDriverState* state) {
  HANDLE control = CreateFileA(VTHERMO_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (control == INVALID_HANDLE_VALUE) return false;
  VThermoRequest request = {static_cast<unsigned int>(unit), static_cast<unsigned int>(operation), value};
  DWORD returned = 0;
  bool ok = DeviceIoControl(control, IOCTL_VTHERMO_CONTROL, &request, sizeof(request), state, sizeof(*state),
                            &returned, nullptr) &&
            returned == sizeof(*state);
  CloseHandle(control);
  return ok;
}

// A change to a unit that is not plugged is a mistake of the caller.
bool ChangeStarted(VThermoUnit unit, VThermoOperation operation, int value) {
  VThermoDriverState state;
  if (!ValidUnit(unit) || !DriverRequest(unit, VTHERMO_OP_GET, 0, &state) || !state.started) return false;
  return DriverRequest(unit, operation, value, &state);
}

bool IsPresent(VThermoUnit unit) {
  std::string want = PathPart(unit);
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVICE_INTERFACE_DATA iface = {};
  iface.cbSize = sizeof(iface);
  for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
    std::string path = VThermoInterfacePath(set, &iface);
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    found = path.find(want) != std::string::npos;
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

bool HasNode(VThermoUnit unit) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  bool found = SetupDiOpenDeviceInfoA(set, kInstanceIds[unit], nullptr, 0, &device) != FALSE;
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

// Removes the unit's device node if there is one; true when none is left.
bool RemoveNode(VThermoUnit unit) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  bool ok = true;
  if (SetupDiOpenDeviceInfoA(set, kInstanceIds[unit], nullptr, 0, &device))
    ok = SetupDiCallClassInstaller(DIF_REMOVE, set, &device) != FALSE;
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

// The sequence UpdateDriverForPlugAndPlayDevices runs, on a node of our own.
bool InstallNode(VThermoUnit unit) {
  std::string inf = VThermoInfPath();
  if (GetFileAttributesA(inf.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidSetupClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  SP_DEVINSTALL_PARAMS_A params = {};
  params.cbSize = sizeof(params);
  bool ok = SetupDiCreateDeviceInfoA(set, kInstanceIds[unit], &kHidSetupClass, nullptr, nullptr, 0, &device) &&
            SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                              reinterpret_cast<const BYTE*>(kHardwareIds), sizeof(kHardwareIds)) &&
            SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device) &&
            SetupDiGetDeviceInstallParamsA(set, &device, &params);
  if (ok) {
    std::snprintf(params.DriverPath, sizeof(params.DriverPath), "%s", inf.c_str());
    params.Flags |= DI_ENUMSINGLEINF | DI_NOFILECOPY;
    ok = SetupDiSetDeviceInstallParamsA(set, &device, &params) &&
         SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER) &&
         SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, &device) &&
         SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device);
    // A node left half-installed would block the next plug.
    if (!ok) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

}  // namespace

std::string VThermoInfPath() {
  char windows[MAX_PATH];
  UINT length = GetWindowsDirectoryA(windows, sizeof(windows));
  if (length == 0 || length >= sizeof(windows)) return std::string();
  return std::string(windows) + "\\inf\\vthermo.inf";
}

std::string VThermoInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface) {
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailA(set, iface, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return std::string();
  std::string buffer(size, '\0');
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(&buffer[0]);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set, iface, detail, size, nullptr, nullptr)) return std::string();
  return std::string(detail->DevicePath);
}

bool VThermoHasDeviceNode(VThermoUnit unit) {
  return ValidUnit(unit) && HasNode(unit);
}

const char* VThermoUnitName(VThermoUnit unit) {
  static const char* const names[VTHERMO_UNIT_COUNT] = {"first", "second", "other", "long"};
  return ValidUnit(unit) ? names[unit] : "?";
}

bool VThermoPlug(VThermoUnit unit, int16_t raw, uint32_t timeoutMs) {
  if (!ValidUnit(unit) || !WriteStartingRaw(unit, raw)) return false;
  if (IsPresent(unit)) {
    // Already plugged: the same fresh state a new plug would give.
    VThermoDriverState state;
    return DriverRequest(unit, VTHERMO_OP_RESTART, raw, &state);
  }
  // A node left over from an earlier session would refuse a new install.
  if (!RemoveNode(unit) || !InstallNode(unit)) return false;
  return VThermoWaitPresent(unit, true, timeoutMs);
}

bool VThermoUnplug(VThermoUnit unit, uint32_t timeoutMs) {
  if (!ValidUnit(unit) || !RemoveNode(unit)) return false;
  return VThermoWaitPresent(unit, false, timeoutMs);
}

bool VThermoSetRaw(VThermoUnit unit, int16_t raw) {
  // Also the value the unit comes back with when the session restarts.
  return ChangeStarted(unit, VTHERMO_OP_SET_RAW, raw) && WriteStartingRaw(unit, raw);
}

bool VThermoSetInterval(VThermoUnit unit, uint32_t intervalMs) {
  if (intervalMs < VTHERMO_MIN_INTERVAL_MS || intervalMs > 3600000) return false;
  return ChangeStarted(unit, VTHERMO_OP_SET_INTERVAL, static_cast<int>(intervalMs));
}

bool VThermoSetAnswering(VThermoUnit unit, bool answering) {
  return ChangeStarted(unit, VTHERMO_OP_SET_ANSWERING, answering ? 1 : 0);
}

bool VThermoGetStatus(VThermoUnit unit, VThermoStatus* status) {
  if (!ValidUnit(unit) || !status) return false;
  VThermoDriverState state = {};
  bool present = IsPresent(unit);
  bool reached = DriverRequest(unit, VTHERMO_OP_GET, 0, &state);
  // A present unit whose driver cannot be reached is a broken install.
  if (present && !reached) return false;
  status->plugged = present && state.started;
  status->reportsDelivered = status->plugged ? state.reports : 0;
  status->raw = static_cast<int16_t>(state.raw);
  status->intervalMs = reached ? state.intervalMs : VTHERMO_DEFAULT_INTERVAL_MS;
  status->answering = reached ? state.answering != 0 : true;
  return true;
}

bool VThermoWaitPresent(VThermoUnit unit, bool present, uint32_t timeoutMs) {
  if (!ValidUnit(unit)) return false;
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (IsPresent(unit) == present) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
}

bool VThermoUnplugAll(uint32_t timeoutMs) {
  bool ok = true;
  for (int unit = VTHERMO_FIRST; unit <= VTHERMO_LONG_REPORT; ++unit)
    ok = VThermoUnplug(static_cast<VThermoUnit>(unit), timeoutMs) && ok;
  return ok;
}
