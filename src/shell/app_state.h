// The process-wide state: one record with static lifetime, shared by the
// window's thread and the reader thread through its two atomic flags only.
#pragma once

#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>

#include "output_template.h"

struct AppState {
  std::atomic<int32_t> stopReader{1};     // 1: no reader wanted
  std::atomic<int32_t> readerRunning{0};  // 1 from StartReader until the reader has ended
  // Re-plug hand-over between StartReader and a reader that still runs
  // (values in the reader's source): a start asks that reader to reopen the
  // device instead of starting a second one.
  std::atomic<int32_t> readerHandOver{0};
  uint8_t devicePresent = 0;              // result of the last probe
  int32_t lastRaw = -1;                   // no delivery carries -1, so the first always shows
  char outputTemplate[OUTPUT_TEMPLATE_SIZE] = {};
  NOTIFYICONDATAA trayData = {};
  HICON iconWarm = nullptr;
  HICON iconCold = nullptr;
  HICON iconNoReading = nullptr;
  HDEVNOTIFY notifyHandle = nullptr;
  HINSTANCE instance = nullptr;
  UINT taskbarCreatedMessage = 0;  // the shell's "TaskbarCreated", sent when Explorer restarts
  bool closing = false;            // the close sequence has begun: no reading or plugging takes effect
  uint32_t closeTries = 0;         // runs of the close sequence so far
};

extern AppState appState;

// Reader thread to window: WPARAM is the raw reading, LPARAM 0.
constexpr UINT WM_TEMPERATURE = WM_USER + 1;
// The tray icon's callback message; LPARAM is the mouse message.
constexpr UINT WM_TRAYNOTIFY = WM_USER;
