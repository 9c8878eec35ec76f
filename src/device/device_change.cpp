#include "thermometer.h"

#include <dbt.h>

#include "app_state.h"
#include "hid_api.h"

namespace {

// Removal seen by the window: no reader is wanted any more, and the display
// goes to no-reading now rather than after the reader's last sleep.
void GoToNoReading(HWND window) {
  appState.stopReader.store(1);
  SendMessageA(window, WM_TEMPERATURE, 0, 0);
}

}  // namespace

BOOL RegisterHidNotifications(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  appState.notifyHandle = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  return appState.notifyHandle != nullptr;
}

void UnregisterHidNotifications() {
  if (appState.notifyHandle != nullptr) UnregisterDeviceNotification(appState.notifyHandle);
  appState.notifyHandle = nullptr;
}

BOOL OnDeviceChange(HWND window, WPARAM event) {
  // Every device-change message probes; the probe only looks.
  HANDLE probe = INVALID_HANDLE_VALUE;
  appState.devicePresent = FindThermometer(&probe) ? 1 : 0;
  if (appState.devicePresent) CloseHandle(probe);

  const bool readerWanted = appState.stopReader.load() == 0;
  const bool present = appState.devicePresent != 0;
  switch (LOWORD(event)) {
    case DBT_DEVNODES_CHANGED:
      if (!readerWanted && present) {
        StartReader(window);
      } else if (readerWanted && !present) {
        GoToNoReading(window);
      }
      break;
    case DBT_DEVICEARRIVAL:
      if (!readerWanted && present) StartReader(window);
      break;
    case DBT_DEVICEREMOVECOMPLETE:
      if (readerWanted && !present) GoToNoReading(window);
      break;
    default:
      break;
  }
  return FALSE;
}
