// Helpers shared by the control library, the control program and the tests
// of the virtual thermometer; additions beside vthermo_control.h.
#pragma once

#include <windows.h>
// windows.h first: SetupAPI builds on it.
#include <setupapi.h>

#include <string>

#include "vthermo_control.h"

// Where install-into-prefix.sh puts the INF the units are installed from.
std::string VThermoInfPath();
// The device path of an enumerated interface; empty if it cannot be read.
std::string VThermoInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface);
// Whether the unit's device node is registered, plugged or not: a unit left
// plugged by an earlier session comes back by itself when Wine starts.
bool VThermoHasDeviceNode(VThermoUnit unit);
// "first", "second", "other", "long": the names vthermoctl takes.
const char* VThermoUnitName(VThermoUnit unit);
