// Drives the virtual thermometers from tests and tools: plug, unplug, set the
// reported value, pace or silence the reports, and wait for the device to
// appear or go.
#pragma once

#include <cstdint>

// The virtual devices, each with its own root-enumerated instance.
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
// until it has gone.
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
