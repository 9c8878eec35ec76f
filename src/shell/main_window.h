// The program's one window: a modal dialog that owns the tray icon, the
// window's visibility and the start-up and close sequences.
#pragma once

#include <windows.h>

#include <cstdint>

// The auto-hide timer, armed at start and on minimise.
constexpr UINT_PTR HIDE_TIMER = 1;
// Re-tries the close while the reader thread finishes its last sleep.
constexpr UINT_PTR CLOSE_TIMER = 2;
constexpr UINT HIDE_DELAY_MS = 3000;
constexpr UINT CLOSE_RETRY_MS = 50;
// How often the close tries to empty a file that another program holds open
// (about 2 s) before it gives up on it.
constexpr uint32_t CLOSE_FILE_TRIES = 40;

// The dialog procedure of IDD_MAIN. Returns FALSE for every message, so the
// dialog manager's default processing always follows.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
