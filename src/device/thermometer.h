// Thermometer access: discovery, the reader thread, arrival and removal.
#pragma once

#include <windows.h>

// Opens the first present HID interface with the thermometer's identity.
// On TRUE the caller owns *handleOut and must close it; on FALSE nothing is left open.
BOOL FindThermometer(HANDLE* handleOut);

// Lowers stopReader and starts ThermometerReader on a thread of its own;
// readerRunning is set before the thread runs. While a reader still runs
// (the thermometer re-plugged within its sleep), no second one starts: that
// reader reopens the device after its sleep instead.
void StartReader(HWND window);
// The reader thread: polls the device every 2 s and sends WM_TEMPERATURE to window.
void __cdecl ThermometerReader(void* window);

// Device-interface notifications of the HID class, sent to window.
BOOL RegisterHidNotifications(HWND window);
void UnregisterHidNotifications();
// The WM_DEVICECHANGE handler; event is the low word of WPARAM.
BOOL OnDeviceChange(HWND window, WPARAM event);
