// The one place where a delivered reading takes effect: the window's label,
// the tray icon and its tooltip, and the four output files.
#pragma once

#include <windows.h>

#include <cstdint>

// The WM_TEMPERATURE handler, on the window's thread. A raw value equal to
// the last one handled changes nothing. Returns FALSE, like every message of
// the main window.
BOOL UpdateReading(HWND window, int32_t raw);
