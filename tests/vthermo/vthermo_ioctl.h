// The request the control program and test library send to the driver's
// control device, \\.\VThermoCtl. Shared by kernel and user mode: plain C,
// fixed-width fields, so the 32- and 64-bit sides agree.
#pragma once

#define VTHERMO_CONTROL_NAME L"\\Device\\VThermoCtl"
#define VTHERMO_CONTROL_LINK L"\\??\\VThermoCtl"
#define VTHERMO_CONTROL_PATH "\\\\.\\VThermoCtl"

// Instance IDs of the root-enumerated units, indexed by VThermoUnit. The
// driver tells its units apart by the instance part, so it is unique
// across all of them. hidclass builds the HID device path from the last two
// parts ("\\?\hid#vid_0000&pid_0003#0000#{...}"), and HID interfaces
// enumerate in path order: other, first, second, long-report, then Wine's
// own devices (vid_845e). The non-matching device comes first so that a
// search has to pass over it; the second thermometer's instance part is long,
// as real ones are, so its path needs more room than the paths before it;
// the long-report thermometer sorts after Wine's own devices, so a search
// that finds it has passed over them.
#define VTHERMO_UNIT_COUNT 4
#define VTHERMO_INSTANCE_FIRST "ROOT\\VID_0000&PID_0003\\0000"
#define VTHERMO_INSTANCE_SECOND "ROOT\\VID_0000&PID_0003\\7&2F1C0B55&0&0001"
#define VTHERMO_INSTANCE_OTHER "ROOT\\OTHER_VID_0000&PID_0004\\0002"
#define VTHERMO_INSTANCE_LONG_REPORT "ROOT\\XLONG_VID_0000&PID_0003\\0003"

// Where a unit's starting value waits for the driver: the value "RawN"
// (REG_DWORD, N = unit) under this key is read when unit N starts.
#define VTHERMO_REGISTRY_KEY "Software\\Quorvel\\VThermo"
#define VTHERMO_REGISTRY_KEY_NT L"\\Registry\\Machine\\Software\\Quorvel\\VThermo"

#define VTHERMO_DEFAULT_INTERVAL_MS 100
#define VTHERMO_MIN_INTERVAL_MS 10

// METHOD_BUFFERED, function 0x800 and up: a private code of our own.
#define IOCTL_VTHERMO_CONTROL CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)

enum VThermoOperation {
  VTHERMO_OP_GET = 0,
  VTHERMO_OP_SET_RAW = 1,
  VTHERMO_OP_SET_INTERVAL = 2,
  VTHERMO_OP_SET_ANSWERING = 3,
  // The state of a fresh plug: the value given, the default interval,
  // answering, no reports yet.
  VTHERMO_OP_RESTART = 4,
};

// Input of IOCTL_VTHERMO_CONTROL.
typedef struct VThermoRequest {
  unsigned int unit;
  unsigned int operation;
  int value;
} VThermoRequest;

// Output of IOCTL_VTHERMO_CONTROL: the unit's state after the operation.
typedef struct VThermoDriverState {
  unsigned int started;   // the unit's device is started (plugged)
  unsigned int reports;   // input reports completed since it started
  int raw;
  unsigned int intervalMs;
  unsigned int answering;
} VThermoDriverState;
