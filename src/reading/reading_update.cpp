#include "reading_update.h"

#include <cstddef>
#include <cstdio>
#include <string>

#include "app_state.h"
#include "output_files.h"
#include "resource.h"
#include "temperature_reading.h"

namespace {

// The tray record is registered in its first version, whose tooltip field the
// shell reads only this far.
constexpr size_t TOOLTIP_SIZE = NOTIFYICONDATAA_V1_SIZE - offsetof(NOTIFYICONDATAA, szTip);
static_assert(TOOLTIP_SIZE <= sizeof(NOTIFYICONDATAA::szTip), "tooltip field");

HICON IconOf(IconClass iconClass) {
  switch (iconClass) {
    case IconClass::Warm:
      return appState.iconWarm;
    case IconClass::Cold:
      return appState.iconCold;
    case IconClass::NoReading:
      break;
  }
  return appState.iconNoReading;
}

}  // namespace

BOOL UpdateReading(HWND window, int32_t raw) {
  const TemperatureReading reading = MakeReading(raw);
  // A poll that brings the same value rewrites nothing, so the weather file's
  // date line keeps the time of the last change.
  if (raw == appState.lastRaw) return FALSE;

  const std::string text = FormatDisplayText(reading);
  SetDlgItemTextA(window, IDC_TEMPERATURE, text.c_str());

  NOTIFYICONDATAA& tray = appState.trayData;
  std::snprintf(tray.szTip, TOOLTIP_SIZE, "%s", text.c_str());
  tray.hIcon = IconOf(ClassifyIcon(reading));
  // The flags are still those the icon was added with, so both icon and
  // tooltip change; after the close sequence has removed the icon, this
  // finds nothing to modify.
  Shell_NotifyIconA(NIM_MODIFY, &tray);

  // A file held open by its reader cannot be rewritten now. Then no value
  // counts as handled (no delivery carries -1), so the next poll writes again,
  // whatever it brings, instead of leaving a file stale until the temperature
  // changes.
  appState.lastRaw = WriteReadingFiles(reading, appState.outputTemplate) ? raw : -1;
  return FALSE;
}
