// vthermoctl: drives the virtual thermometers from a shell.
//   vthermoctl plug <unit> [raw]       plug in, reporting raw kelvins (default 290)
//   vthermoctl unplug <unit>|all
//   vthermoctl set <unit> <raw>        any 16-bit value: 0, negative, 1000 and more
//   vthermoctl interval <unit> <ms>    pace of the reports
//   vthermoctl silent <unit>           reads stay pending ...
//   vthermoctl answer <unit>           ... until it answers again
//   vthermoctl status <unit>|all
//   vthermoctl wait <unit> present|absent [ms]
//   vthermoctl install                 checks the installed driver, leaves nothing plugged
// Units: first, second, other (product 0x0004), long (32-byte report).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vthermo_control.h"
#include "vthermo_ioctl.h"
#include "vthermo_support.h"

namespace {

const uint32_t kTimeoutMs = 10000;
// The install check runs at every session start: fail fast.
const uint32_t kInstallTimeoutMs = 4000;

int Usage() {
  std::fprintf(stderr,
               "usage: vthermoctl plug <unit> [raw] | unplug <unit>|all | set <unit> <raw> |\n"
               "       interval <unit> <ms> | silent <unit> | answer <unit> | status <unit>|all |\n"
               "       wait <unit> present|absent [ms] | install\n"
               "units: first, second, other, long\n");
  return 2;
}

bool ParseUnit(const char* text, VThermoUnit* unit) {
  for (int i = VTHERMO_FIRST; i <= VTHERMO_LONG_REPORT; ++i) {
    if (std::strcmp(text, VThermoUnitName(static_cast<VThermoUnit>(i))) == 0) {
      *unit = static_cast<VThermoUnit>(i);
      return true;
    }
  }
  return false;
}

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

int Fail(const char* what, const char* unit) {
  std::fprintf(stderr, "vthermoctl: %s %s failed\n", what, unit);
  return 1;
}

int PrintStatus(VThermoUnit unit) {
  VThermoStatus status;
  if (!VThermoGetStatus(unit, &status)) return Fail("status", VThermoUnitName(unit));
  std::printf("%s: %s raw=%d interval=%ums %s reports=%u\n", VThermoUnitName(unit),
              status.plugged ? "plugged" : "unplugged", status.raw, status.intervalMs,
              status.answering ? "answering" : "silent", status.reportsDelivered);
  return 0;
}

// The installed driver must load and show a unit; the check leaves nothing
// plugged, as every test expects to find it.
int Install() {
  if (GetFileAttributesA(VThermoInfPath().c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "vthermoctl: %s is missing\n", VThermoInfPath().c_str());
    return 1;
  }
  // Units left plugged by an earlier session are being started again by
  // Wine: let them finish before removing them.
  for (int i = VTHERMO_FIRST; i <= VTHERMO_LONG_REPORT; ++i) {
    auto unit = static_cast<VThermoUnit>(i);
    if (VThermoHasDeviceNode(unit)) VThermoWaitPresent(unit, true, kInstallTimeoutMs / 2);
  }
  if (!VThermoUnplugAll(kInstallTimeoutMs)) {
    std::fprintf(stderr, "vthermoctl: could not remove the units left plugged\n");
    return 1;
  }
  VThermoStatus status = {};
  bool ok = VThermoPlug(VTHERMO_FIRST, 290, kInstallTimeoutMs) && VThermoGetStatus(VTHERMO_FIRST, &status) &&
            status.plugged && status.raw == 290;
  if (!ok) std::fprintf(stderr, "vthermoctl: the virtual thermometer did not appear after its install\n");
  if (!VThermoUnplugAll(kInstallTimeoutMs)) {
    std::fprintf(stderr, "vthermoctl: the virtual thermometer did not go away\n");
    ok = false;
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* command = argv[1];
  if (std::strcmp(command, "install") == 0) return argc == 2 ? Install() : Usage();
  if (argc < 3) return Usage();
  const char* unitName = argv[2];
  bool all = std::strcmp(unitName, "all") == 0;
  VThermoUnit unit = VTHERMO_FIRST;
  if (!all && !ParseUnit(unitName, &unit)) return Usage();
  long value = 0;

  if (std::strcmp(command, "unplug") == 0 && argc == 3) {
    bool ok = all ? VThermoUnplugAll(kTimeoutMs) : VThermoUnplug(unit, kTimeoutMs);
    return ok ? 0 : Fail("unplug", unitName);
  }
  if (std::strcmp(command, "status") == 0 && argc == 3) {
    if (!all) return PrintStatus(unit);
    int result = 0;
    for (int i = VTHERMO_FIRST; i <= VTHERMO_LONG_REPORT; ++i) result |= PrintStatus(static_cast<VThermoUnit>(i));
    return result;
  }
  if (all) return Usage();
  if (std::strcmp(command, "plug") == 0 && argc <= 4) {
    if (argc == 4 && !ParseNumber(argv[3], -32768, 32767, &value)) return Usage();
    int16_t raw = argc == 4 ? static_cast<int16_t>(value) : 290;
    return VThermoPlug(unit, raw, kTimeoutMs) ? 0 : Fail("plug", unitName);
  }
  if (std::strcmp(command, "set") == 0 && argc == 4) {
    if (!ParseNumber(argv[3], -32768, 32767, &value)) return Usage();
    return VThermoSetRaw(unit, static_cast<int16_t>(value)) ? 0 : Fail("set", unitName);
  }
  if (std::strcmp(command, "interval") == 0 && argc == 4) {
    if (!ParseNumber(argv[3], VTHERMO_MIN_INTERVAL_MS, 3600000, &value)) return Usage();
    return VThermoSetInterval(unit, static_cast<uint32_t>(value)) ? 0 : Fail("interval", unitName);
  }
  if (std::strcmp(command, "silent") == 0 && argc == 3)
    return VThermoSetAnswering(unit, false) ? 0 : Fail("silent", unitName);
  if (std::strcmp(command, "answer") == 0 && argc == 3)
    return VThermoSetAnswering(unit, true) ? 0 : Fail("answer", unitName);
  if (std::strcmp(command, "wait") == 0 && (argc == 4 || argc == 5)) {
    bool present = std::strcmp(argv[3], "present") == 0;
    if (!present && std::strcmp(argv[3], "absent") != 0) return Usage();
    if (argc == 5 && !ParseNumber(argv[4], 0, 3600000, &value)) return Usage();
    uint32_t timeout = argc == 5 ? static_cast<uint32_t>(value) : kTimeoutMs;
    return VThermoWaitPresent(unit, present, timeout) ? 0 : Fail("wait", unitName);
  }
  return Usage();
}
