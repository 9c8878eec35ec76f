#include "main_window.h"

#include <shellapi.h>

#include <cstdio>

#include "app_state.h"
#include "output_files.h"
#include "reading_update.h"
#include "resource.h"
#include "thermometer.h"

namespace {

// The tray icons are drawn at the small icon size, so they are loaded at it
// and the 16x16 images are used rather than a shrunk 32x32. Shared handles,
// like LoadIconA's: never destroyed.
HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(LoadImageA(appState.instance, MAKEINTRESOURCEA(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

// The first version of the record: every shell since Windows 95 accepts it.
void ResetTrayData(HWND window) {
  NOTIFYICONDATAA& tray = appState.trayData;
  tray = {};
  tray.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
  tray.hWnd = window;
  tray.uID = 0;
}

void AddTrayIcon(HWND window) {
  ResetTrayData(window);
  NOTIFYICONDATAA& tray = appState.trayData;
  tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray.uCallbackMessage = WM_TRAYNOTIFY;
  tray.hIcon = appState.iconNoReading;
  std::snprintf(tray.szTip, sizeof tray.szTip, "%s", "***");
  Shell_NotifyIconA(NIM_ADD, &tray);
}

void ToggleWindow(HWND window) {
  // SW_RESTORE, not SW_SHOW: a window hidden while minimised comes back at
  // its normal size.
  ShowWindow(window, IsWindowVisible(window) ? SW_HIDE : SW_RESTORE);
  SetForegroundWindow(window);
}

void ShowTrayMenu(HWND window) {
  POINT cursor = {};
  GetCursorPos(&cursor);
  HMENU menu = LoadMenuA(appState.instance, MAKEINTRESOURCEA(IDR_TRAYMENU));
  if (menu == nullptr) return;
  // Without the foreground the menu stays open when the user clicks elsewhere,
  // and without the WM_NULL after it the next click on the icon is lost.
  SetForegroundWindow(window);
  const int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_NONOTIFY, cursor.x,
                                     cursor.y, 0, window, nullptr);
  PostMessageA(window, WM_NULL, 0, 0);
  DestroyMenu(menu);

  if (command == ID_SHOWHIDE) {
    ToggleWindow(window);
  } else if (command == ID_CLOSE) {
    SendMessageA(window, WM_CLOSE, 0, 0);
  }
}

BOOL OnInitDialog(HWND window) {
  appState.iconWarm = LoadSmallIcon(IDI_WARM);
  appState.iconCold = LoadSmallIcon(IDI_COLD);
  appState.iconNoReading = LoadSmallIcon(IDI_NOREADING);
  AddTrayIcon(window);
  SendMessageA(window, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(appState.instance, MAKEINTRESOURCEA(IDI_NOREADING))));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appState.iconNoReading));

  // The probe only looks; the reader opens the device for itself.
  HANDLE probe = nullptr;
  appState.devicePresent = FindThermometer(&probe) ? 1 : 0;
  if (appState.devicePresent != 0) {
    CloseHandle(probe);
    StartReader(window);
  }

  if (!RegisterHidNotifications(window)) {
    MessageBoxA(window, "Failed to Register Device Notifications", "ERROR", MB_ICONERROR);
  }
  SetTimer(window, HIDE_TIMER, HIDE_DELAY_MS, nullptr);
  return FALSE;
}

// What every ending does first: no icon, no reading left in the files, no
// reader wanted, and nothing after this brings a reading back. Returns whether
// all four files could be emptied.
bool LeaveNoReading(HWND window) {
  appState.closing = true;
  ResetTrayData(window);
  Shell_NotifyIconA(NIM_DELETE, &appState.trayData);
  const bool filesEmptied = ClearOutputFiles();
  appState.stopReader = 1;
  return filesEmptied;
}

BOOL OnClose(HWND window) {
  ++appState.closeTries;
  const bool filesEmptied = LeaveNoReading(window);

  // The reader sees the stop only after its sleep, and a file that another
  // program is reading just now is free again a moment later; left as it is,
  // it would show the last reading after the program has gone. Waiting here
  // would stop the message loop the reader may be sending to, and re-posting
  // WM_CLOSE would spin; a short timer tries again instead.
  const bool filesPending = !filesEmptied && appState.closeTries < CLOSE_FILE_TRIES;
  if (appState.readerRunning != 0 || filesPending) {
    SetTimer(window, CLOSE_TIMER, CLOSE_RETRY_MS, nullptr);
    return FALSE;
  }
  UnregisterHidNotifications();
  EndDialog(window, 0);
  return FALSE;
}

// Windows ends the program after this message without sending WM_CLOSE, so
// the close's own effects happen here; there is no time to wait for the reader.
BOOL OnEndSession(HWND window, WPARAM sessionEnds) {
  if (sessionEnds != FALSE) LeaveNoReading(window);
  return FALSE;
}

BOOL OnTimer(HWND window, UINT_PTR timer) {
  if (timer == CLOSE_TIMER) {
    KillTimer(window, CLOSE_TIMER);
    return OnClose(window);
  }
  KillTimer(window, HIDE_TIMER);
  ShowWindow(window, SW_HIDE);
  return FALSE;
}

BOOL OnSysCommand(HWND window, WPARAM command) {
  // The system uses the low four bits of the command itself.
  if ((command & 0xFFF0) == SC_MINIMIZE) {
    // The system minimises as usual; the timer then hides the window, so it
    // does not stay on the taskbar.
    SetTimer(window, HIDE_TIMER, 1, nullptr);
  }
  return FALSE;
}

BOOL OnTrayNotify(HWND window, LPARAM mouseMessage) {
  // Any touch of the icon, a move included, cancels a pending auto-hide.
  KillTimer(window, HIDE_TIMER);
  if (mouseMessage == WM_LBUTTONDOWN) {
    ToggleWindow(window);
  } else if (mouseMessage == WM_RBUTTONDOWN) {
    ShowTrayMenu(window);
  }
  return FALSE;
}

// Explorer restarted: its new tray knows nothing of the icon, so it is added
// again as it is now. Not once the close has removed it.
BOOL OnTaskbarCreated() {
  if (!appState.closing) Shell_NotifyIconA(NIM_ADD, &appState.trayData);
  return FALSE;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == appState.taskbarCreatedMessage && message != 0) return OnTaskbarCreated();
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_CLOSE:
      return OnClose(window);
    case WM_ENDSESSION:
      return OnEndSession(window, wParam);
    case WM_SYSCOMMAND:
      return OnSysCommand(window, wParam);
    case WM_TIMER:
      return OnTimer(window, wParam);
    case WM_DEVICECHANGE:
      return appState.closing ? FALSE : OnDeviceChange(window, LOWORD(wParam));
    case WM_TRAYNOTIFY:
      return OnTrayNotify(window, lParam);
    case WM_TEMPERATURE:
      return appState.closing ? FALSE : UpdateReading(window, static_cast<int32_t>(wParam));
    default:
      return FALSE;
  }
}
