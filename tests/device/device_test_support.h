// What the device tests share: a small top-level window on its own thread
// that stands in for the main window (it records every WM_TEMPERATURE and
// WM_DEVICECHANGE and hands device changes to OnDeviceChange as the main
// window does), waits with time-outs, and counts of the process's handles
// and threads.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using TestClock = std::chrono::steady_clock;

struct Delivery {
  int raw;
  TestClock::time_point time;
};

struct DeviceEvent {
  WPARAM event;
  TestClock::time_point time;
};

enum class TestWindowKind {
  // Sees no device change at all: for tests that send the messages themselves.
  Quiet,
  // Top-level (DBT_DEVNODES_CHANGED reaches top-level windows only) and
  // registered for HID interface notifications, as the main window is.
  Main,
};

// Creates the window and its thread.
HWND OpenTestWindow(TestWindowKind kind);
// Destroys the window (releasing the registration) and ends its thread.
void CloseTestWindow();

std::vector<Delivery> Deliveries();
std::vector<DeviceEvent> DeviceEvents();
void ClearRecords();

// Polls condition every 10 ms until it holds or timeout passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Deliveries recorded at or after since.
std::vector<Delivery> DeliveriesSince(TestClock::time_point since);
double SecondsBetween(TestClock::time_point from, TestClock::time_point to);

// Raises stopReader and waits until no reader is left; resets the flags.
bool StopAnyReader();

// This process's kernel handles as (value, object type), from the system
// handle table (GetProcessHandleCount is a stub under Wine).
using HandleSnapshot = std::vector<std::pair<unsigned, unsigned>>;
HandleSnapshot TakeHandleSnapshot();
// Handles open now that were not open at before, as "value:type".
std::vector<std::string> NewHandlesSince(const HandleSnapshot& before);

long CountProcessThreads();
