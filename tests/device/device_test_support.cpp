#include "device_test_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <future>
#include <string>
#include <mutex>
#include <thread>

#include "app_state.h"
#include "thermometer.h"

namespace {

std::mutex recordMutex;
std::vector<Delivery> deliveries;
std::vector<DeviceEvent> deviceEvents;

std::thread windowThread;
HWND testWindow = nullptr;
bool registered = false;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TEMPERATURE: {
      std::lock_guard<std::mutex> lock(recordMutex);
      deliveries.push_back({static_cast<int>(wParam), TestClock::now()});
      return 0;
    }
    case WM_DEVICECHANGE: {
      {
        std::lock_guard<std::mutex> lock(recordMutex);
        deviceEvents.push_back({wParam, TestClock::now()});
      }
      OnDeviceChange(window, wParam);
      return TRUE;
    }
    case WM_DESTROY:
      if (registered) UnregisterHidNotifications();
      registered = false;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void RunWindow(TestWindowKind kind, std::promise<HWND>* created) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = TestWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuorvelDeviceTestWindow";
  RegisterClassA(&windowClass);
  // A message-only window never sees the broadcast DBT_DEVNODES_CHANGED.
  HWND parent = kind == TestWindowKind::Quiet ? HWND_MESSAGE : nullptr;
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "device test", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, parent, nullptr,
                                windowClass.hInstance, nullptr);
  if (window != nullptr && kind == TestWindowKind::Main) {
    registered = RegisterHidNotifications(window) != FALSE;
  }
  created->set_value(window);
  if (window == nullptr) return;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

HWND OpenTestWindow(TestWindowKind kind) {
  ClearRecords();
  std::promise<HWND> created;
  std::future<HWND> result = created.get_future();
  windowThread = std::thread(RunWindow, kind, &created);
  testWindow = result.get();
  if (testWindow == nullptr || (kind == TestWindowKind::Main && !registered)) {
    CloseTestWindow();
    return nullptr;
  }
  return testWindow;
}

void CloseTestWindow() {
  if (testWindow != nullptr) PostMessageA(testWindow, WM_CLOSE, 0, 0);
  if (windowThread.joinable()) windowThread.join();
  testWindow = nullptr;
}

std::vector<Delivery> Deliveries() {
  std::lock_guard<std::mutex> lock(recordMutex);
  return deliveries;
}

std::vector<DeviceEvent> DeviceEvents() {
  std::lock_guard<std::mutex> lock(recordMutex);
  return deviceEvents;
}

void ClearRecords() {
  std::lock_guard<std::mutex> lock(recordMutex);
  deliveries.clear();
  deviceEvents.clear();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const TestClock::time_point deadline = TestClock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (TestClock::now() >= deadline) return false;
    Sleep(10);
  }
}

std::vector<Delivery> DeliveriesSince(TestClock::time_point since) {
  std::vector<Delivery> result;
  for (const Delivery& delivery : Deliveries()) {
    if (delivery.time >= since) result.push_back(delivery);
  }
  return result;
}

double SecondsBetween(TestClock::time_point from, TestClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool StopAnyReader() {
  appState.stopReader.store(1);
  bool stopped = WaitUntil([] { return appState.readerRunning.load() == 0; },
                           std::chrono::seconds(10));
  appState.devicePresent = 0;
  return stopped;
}

namespace {

// SystemHandleInformation, as ntdll lays it out.
struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ULONG access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};

// This process's entries of the system handle table; empty on failure.
std::vector<HandleEntry> ProcessHandles() {
  std::vector<HandleEntry> own;
  using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  // Through void*: FARPROC has no parameters to match.
  auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return own;
  const ULONG systemHandleInformation = 16;
  const LONG infoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    LONG status = query(systemHandleInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &needed);
    if (status == infoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
      continue;
    }
    if (status != 0) return own;
    break;
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  const HandleEntry* entries = table->entries;
  const ULONG pid = GetCurrentProcessId();
  for (ULONG i = 0; i < table->count; ++i) {
    if (entries[i].ownerPid == pid) own.push_back(entries[i]);
  }
  return own;
}

}  // namespace

HandleSnapshot TakeHandleSnapshot() {
  HandleSnapshot snapshot;
  for (const HandleEntry& entry : ProcessHandles()) {
    snapshot.push_back({entry.handle, entry.objectType});
  }
  return snapshot;
}

std::vector<std::string> NewHandlesSince(const HandleSnapshot& before) {
  std::vector<std::string> added;
  for (const auto& handle : TakeHandleSnapshot()) {
    if (std::find(before.begin(), before.end(), handle) == before.end()) {
      added.push_back(std::to_string(handle.first) + ":" + std::to_string(handle.second));
    }
  }
  return added;
}

long CountProcessThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  const DWORD pid = GetCurrentProcessId();
  long count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == pid) ++count;
  }
  CloseHandle(snapshot);
  return count;
}
