// Drives the virtual thermometers from tests and tools: plug, unplug, set the
// reported value, pace or silence the reports, and wait for the device to
// appear or go.
#pragma once

#include <cstdint>

// The virtual devices, each with its own root-enumerated instance.
// Enumeration order (SetupDiEnumDeviceInterfaces on the HID class follows
// the device paths under Wine): VTHERMO_OTHER, VTHERMO_FIRST, VTHERMO_SECOND
// (whose path is longer than those before it), Wine's own mouse and keyboard
// (vendor 0x845e), then VTHERMO_LONG_REPORT.
// So a search for 0x0000/0x0003 passes over VTHERMO_OTHER when it is
// plugged, and of the thermometers plugged the first in this order wins.
// Input reports: no report ID; byte 0 = 0 as delivered, bytes 1-2 = the raw
// value (int16 little-endian); InputReportByteLength 3, 32 for
// VTHERMO_LONG_REPORT (whose bytes 3-31 are 0xEE). A plugged unit reports
// every 100 ms until told otherwise; hidclass queues up to 32 reports per
// open handle, as Windows does.
// Needs the driver installed in the prefix (tests/vthermo/install-into-prefix.sh,
// which scripts/wine-session.sh start runs); vthermoctl.exe drives the same
// functions from a shell.
enum VThermoUnit {
  VTHERMO_FIRST = 0,        // thermometer, vendor 0x0000 product 0x0003, instance 0000
  VTHERMO_SECOND = 1,       // a second thermometer, later in enumeration order
  VTHERMO_OTHER = 2,        // a non-matching HID device, vendor 0x0000 product 0x0004
  VTHERMO_LONG_REPORT = 3,  // a thermometer whose input report is longer than 12 bytes
};

struct VThermoStatus {
  bool plugged;
  uint32_t reportsDelivered;  // input reports completed since it was plugged
  int16_t raw;                // the value it reports
  uint32_t intervalMs;
  bool answering;
};

// Each returns true on success. Plug installs the device (if absent) and
// waits until its HID interface is present; Unplug removes it and waits
// until it has gone. A plug starts the unit afresh: the value given, 100 ms
// interval, answering (also when it was plugged already). SetRaw,
// SetInterval (10 ms or more) and SetAnswering fail for a unit not plugged.
// Registered windows get the real WM_DEVICECHANGE messages of each plug
// and unplug.
bool VThermoPlug(VThermoUnit unit, int16_t raw, uint32_t timeoutMs = 10000);
bool VThermoUnplug(VThermoUnit unit, uint32_t timeoutMs = 10000);
bool VThermoSetRaw(VThermoUnit unit, int16_t raw);
bool VThermoSetInterval(VThermoUnit unit, uint32_t intervalMs);
// A silent device keeps reads pending until it answers again.
bool VThermoSetAnswering(VThermoUnit unit, bool answering);
bool VThermoGetStatus(VThermoUnit unit, VThermoStatus* status);
// Waits until the unit's HID interface is (or is no longer) enumerated.
bool VThermoWaitPresent(VThermoUnit unit, bool present, uint32_t timeoutMs);
// Unplugs every unit; for a clean start of each test.
bool VThermoUnplugAll(uint32_t timeoutMs = 10000);
