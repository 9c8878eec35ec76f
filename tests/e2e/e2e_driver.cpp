// The end-to-end harness's eyes and hands inside Wine. It starts the program,
// reads its window's state, drives the virtual thermometer, finds the tray
// icon and popup menu on screen, and stands in for Explorer when the harness
// restarts the shell. The harness talks to it over stdin/stdout, one command
// line in, one answer line out ("ok key=value ..." or "err reason ...").
// Texts travel hex-encoded so any byte survives the trip.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vthermo_control.h"

namespace {

// The program under test and what the driver knows about its one instance.
struct DriverState {
  std::string exePath;
  HANDLE process = nullptr;
  DWORD processId = 0;
  LARGE_INTEGER startedAt = {};
  HWND trayHost = nullptr;  // our own Shell_TrayWnd once we stand in for Explorer
};

DriverState driver;

const char kDialogClass[] = "#32770";
const char kCaption[] = " Quorvel";
const int kLabelId = 1010;

double MillisecondsSince(const LARGE_INTEGER& since) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - since.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex.empty() ? "-" : hex;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  if (hex == "-") return bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  return bytes;
}

void Answer(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
}

// --- The program's window --------------------------------------------------

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchProgramWindow(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  char className[64] = {}, caption[64] = {};
  GetClassNameA(window, className, sizeof(className));
  GetWindowTextA(window, caption, sizeof(caption));
  if (std::strcmp(className, kDialogClass) == 0 && std::strcmp(caption, kCaption) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The main window of the instance we started; null before it exists or after it ends.
HWND ProgramWindow() {
  if (!driver.processId) return nullptr;
  WindowSearch search = {driver.processId, nullptr};
  EnumWindows(MatchProgramWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string LabelText(HWND window) {
  // Read through WM_GETTEXT with a time-out so a busy program cannot hang us.
  HWND label = GetDlgItem(window, kLabelId);
  if (!label) return "";
  char text[256] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                           &copied))
    return "";
  return std::string(text, copied);
}

void AnswerWindow(HWND window) {
  if (!window) {
    Answer("ok found=0");
    return;
  }
  RECT rect = {};
  GetWindowRect(window, &rect);
  Answer("ok found=1 text=%s visible=%d iconic=%d left=%ld top=%ld right=%ld bottom=%ld screenw=%d screenh=%d",
         ToHex(LabelText(window)).c_str(), IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0, rect.left,
         rect.top, rect.right, rect.bottom, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

bool ProcessEnded() {
  return driver.process && WaitForSingleObject(driver.process, 0) == WAIT_OBJECT_0;
}

void CommandStart(const std::string& directoryHex, const std::string& tailHex) {
  if (driver.process) CloseHandle(driver.process);
  driver.process = nullptr;
  driver.processId = 0;
  std::string directory = FromHex(directoryHex);
  std::string tail = FromHex(tailHex);
  std::string commandLine = "\"" + driver.exePath + "\"";
  if (!tail.empty()) commandLine += " " + tail;
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');

  // The program's standard handles go nowhere: it must not hold our pipes.
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = nul;
  startup.hStdError = nul;
  PROCESS_INFORMATION info = {};
  driver.startedAt = Now();
  BOOL started = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(),
                                &startup, &info);
  DWORD error = GetLastError();
  CloseHandle(nul);
  if (!started) {
    Answer("err CreateProcess failed %lu", error);
    return;
  }
  CloseHandle(info.hThread);
  driver.process = info.hProcess;
  driver.processId = info.dwProcessId;
  Answer("ok pid=%lu", info.dwProcessId);
}

void CommandWaitWindow(DWORD timeoutMs) {
  LARGE_INTEGER begun = Now();
  while (MillisecondsSince(begun) < timeoutMs) {
    // The dialog shows itself once its start-up sequence is done.
    HWND window = ProgramWindow();
    if (window && IsWindowVisible(window) && GetDlgItem(window, kLabelId)) {
      Answer("ok ms=%.1f text=%s", MillisecondsSince(driver.startedAt), ToHex(LabelText(window)).c_str());
      return;
    }
    if (ProcessEnded()) break;
    Sleep(2);
  }
  Answer("err no window (process ended=%d)", ProcessEnded() ? 1 : 0);
}

void CommandWaitText(const std::string& wantedHex, DWORD timeoutMs) {
  std::string wanted = FromHex(wantedHex);
  LARGE_INTEGER begun = Now();
  std::string seen;
  while (MillisecondsSince(begun) < timeoutMs) {
    HWND window = ProgramWindow();
    if (window) {
      seen = LabelText(window);
      if (seen == wanted) {
        Answer("ok ms=%.1f total=%.1f", MillisecondsSince(begun), MillisecondsSince(driver.startedAt));
        return;
      }
    }
    Sleep(2);
  }
  Answer("err timeout text=%s", ToHex(seen).c_str());
}

void CommandWaitVisible(int wanted, DWORD timeoutMs) {
  LARGE_INTEGER begun = Now();
  while (MillisecondsSince(begun) < timeoutMs) {
    HWND window = ProgramWindow();
    if (window && (IsWindowVisible(window) ? 1 : 0) == wanted) {
      Answer("ok ms=%.1f total=%.1f", MillisecondsSince(begun), MillisecondsSince(driver.startedAt));
      return;
    }
    Sleep(2);
  }
  Answer("err timeout");
}

// Watches that the window stays visible until the given time since start.
void CommandStayVisible(DWORD untilMsSinceStart) {
  while (MillisecondsSince(driver.startedAt) < untilMsSinceStart) {
    HWND window = ProgramWindow();
    if (!window || !IsWindowVisible(window)) {
      Answer("err hidden at total=%.1f", MillisecondsSince(driver.startedAt));
      return;
    }
    Sleep(5);
  }
  Answer("ok");
}

void CommandWaitExit(DWORD timeoutMs) {
  if (!driver.process) {
    Answer("err not started");
    return;
  }
  LARGE_INTEGER begun = Now();
  if (WaitForSingleObject(driver.process, timeoutMs) != WAIT_OBJECT_0) {
    Answer("err timeout");
    return;
  }
  DWORD code = 0;
  GetExitCodeProcess(driver.process, &code);
  Answer("ok code=%lu ms=%.1f", code, MillisecondsSince(begun));
}

double CpuMilliseconds() {
  FILETIME created, ended, kernel, user;
  if (!driver.process || !GetProcessTimes(driver.process, &created, &ended, &kernel, &user)) return -1;
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return double(k.QuadPart + u.QuadPart) / 10000.0;
}

// Closes the way the system does (WM_CLOSE) and measures how long the exit
// takes and the CPU the program burns meanwhile.
void CommandCloseWait(DWORD timeoutMs) {
  HWND window = ProgramWindow();
  if (!window) {
    Answer("err no window");
    return;
  }
  double cpuBefore = CpuMilliseconds();
  LARGE_INTEGER begun = Now();
  PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(driver.process, timeoutMs) != WAIT_OBJECT_0) {
    Answer("err timeout");
    return;
  }
  double elapsed = MillisecondsSince(begun);
  DWORD code = 0;
  GetExitCodeProcess(driver.process, &code);
  Answer("ok code=%lu ms=%.1f cpu=%.1f", code, elapsed, CpuMilliseconds() - cpuBefore);
}

void CommandKill() {
  if (driver.process && !ProcessEnded()) {
    TerminateProcess(driver.process, 99);
    WaitForSingleObject(driver.process, 5000);
  }
  Answer("ok");
}

// The centre of a caption button (HTMINBUTTON, HTCLOSE), found by asking the
// window itself what each of its points is.
void CommandCaptionButton(LRESULT wanted) {
  HWND window = ProgramWindow();
  RECT rect = {};
  if (!window || !GetWindowRect(window, &rect)) {
    Answer("err no window");
    return;
  }
  long sumX = 0, sumY = 0, count = 0;
  for (LONG y = rect.top; y < rect.bottom; ++y) {
    for (LONG x = rect.left; x < rect.right; ++x) {
      DWORD_PTR hit = 0;
      if (SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &hit) &&
          LRESULT(hit) == wanted) {
        sumX += x;
        sumY += y;
        ++count;
      }
    }
  }
  if (!count) {
    Answer("err no such button");
    return;
  }
  Answer("ok x=%ld y=%ld", sumX / count, sumY / count);
}

// The program's kernel handles, from the system handle table (Wine's
// GetProcessHandleCount always says 0).
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};

struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};

typedef LONG(NTAPI* QuerySystemInformationFunction)(ULONG, PVOID, ULONG, PULONG);

void CommandHandles() {
  const ULONG kSystemHandleInformation = 16;
  const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  QuerySystemInformationFunction query = reinterpret_cast<QuerySystemInformationFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query || !driver.processId) {
    Answer("err no handle table");
    return;
  }
  std::vector<BYTE> buffer(1 << 16);
  LONG status = 0;
  for (int tries = 0; tries < 10; ++tries) {
    ULONG needed = 0;
    status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed);
    if (status != kInfoLengthMismatch) break;
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
  }
  if (status != 0) {
    Answer("err NtQuerySystemInformation 0x%lx", static_cast<unsigned long>(status));
    return;
  }
  const SystemHandleTable* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
  unsigned count = 0;
  for (ULONG i = 0; i < table->count; ++i)
    if (table->entries[i].ownerPid == driver.processId) ++count;
  Answer("ok count=%u", count);
}

// --- Tray and menu as they are on screen -----------------------------------

struct ChildList {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  reinterpret_cast<ChildList*>(param)->windows.push_back(window);
  return TRUE;
}

// Wine shows tray icons in its "Wine System Tray" window when no desktop tray
// exists; each icon is a child window.
void CommandTray() {
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  if (!tray) {
    Answer("ok found=0 icons=0");
    return;
  }
  RECT trayRect = {};
  GetWindowRect(tray, &trayRect);
  ChildList children;
  EnumChildWindows(tray, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::string icons;
  int count = 0;
  for (HWND child : children.windows) {
    if (!IsWindowVisible(child)) continue;
    RECT r = {};
    GetWindowRect(child, &r);
    char item[96];
    snprintf(item, sizeof(item), " icon%d=%ld,%ld,%ld,%ld", count, r.left, r.top, r.right, r.bottom);
    icons += item;
    ++count;
  }
  DWORD owner = 0;
  GetWindowThreadProcessId(tray, &owner);
  Answer("ok found=1 visible=%d owner=%lu left=%ld top=%ld right=%ld bottom=%ld icons=%d%s",
         IsWindowVisible(tray) ? 1 : 0, owner, trayRect.left, trayRect.top, trayRect.right, trayRect.bottom, count,
         icons.c_str());
}

BOOL CALLBACK FindVisibleMenu(HWND window, LPARAM param) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (std::strcmp(className, "#32768") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

HWND VisibleMenu() {
  HWND menu = nullptr;
  EnumWindows(FindVisibleMenu, reinterpret_cast<LPARAM>(&menu));
  return menu;
}

void CommandWaitMenu(int wanted, DWORD timeoutMs) {
  LARGE_INTEGER begun = Now();
  while (MillisecondsSince(begun) < timeoutMs) {
    HWND menu = VisibleMenu();
    if ((menu != nullptr) == (wanted != 0)) {
      RECT rect = {};
      if (menu) GetWindowRect(menu, &rect);
      Answer("ok left=%ld top=%ld right=%ld bottom=%ld", rect.left, rect.top, rect.right, rect.bottom);
      return;
    }
    Sleep(5);
  }
  Answer("err timeout");
}

// --- Standing in for Explorer ----------------------------------------------

// How Wine's shell32 packs a NOTIFYICONDATA for the tray owner (WM_COPYDATA):
// the record, then the icon's mask bits and colour bits.
struct PackedNotifyData {
  LONG window;
  UINT id;
  UINT flags;
  UINT callbackMessage;
  WCHAR tip[128];
  DWORD state;
  DWORD stateMask;
  WCHAR info[256];
  UINT timeoutOrVersion;
  WCHAR infoTitle[64];
  DWORD infoFlags;
  GUID guidItem;
  UINT width;
  UINT height;
  UINT planes;
  UINT bpp;
};

typedef int(CDECL* NotifyIconFunction)(DWORD, NOTIFYICONDATAW*);
NotifyIconFunction wineNotifyIcon = nullptr;
std::atomic<int> trayRequests{0};

LRESULT HandleTrayRequest(const COPYDATASTRUCT* data) {
  if (!data || data->cbData < sizeof(PackedNotifyData)) return FALSE;
  const PackedNotifyData* packed = static_cast<const PackedNotifyData*>(data->lpData);
  NOTIFYICONDATAW icon = {};
  icon.cbSize = sizeof(icon);
  icon.hWnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(packed->window));
  icon.uID = packed->id;
  icon.uFlags = packed->flags;
  icon.uCallbackMessage = packed->callbackMessage;
  icon.dwState = packed->state;
  icon.dwStateMask = packed->stateMask;
  lstrcpynW(icon.szTip, packed->tip, 128);
  if ((packed->flags & NIF_ICON) && data->cbData > sizeof(PackedNotifyData)) {
    DWORD maskBytes = (packed->width * packed->height + 15) / 16 * 2;
    DWORD colourBytes = (packed->planes * packed->width * packed->height * packed->bpp + 15) / 16 * 2;
    if (data->cbData < sizeof(PackedNotifyData) + maskBytes + colourBytes) return FALSE;
    const BYTE* bits = reinterpret_cast<const BYTE*>(packed + 1);
    icon.hIcon = CreateIcon(nullptr, packed->width, packed->height, packed->planes, packed->bpp, bits,
                            bits + maskBytes);
  }
  int result = wineNotifyIcon ? wineNotifyIcon(DWORD(data->dwData), &icon) : -1;
  if (icon.hIcon) DestroyIcon(icon.hIcon);
  ++trayRequests;
  return result > 0;
}

LRESULT CALLBACK TrayHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) return HandleTrayRequest(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI TrayHostThread(LPVOID ready) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = TrayHostProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "Shell_TrayWnd";
  RegisterClassA(&windowClass);
  driver.trayHost = CreateWindowExA(WS_EX_TOOLWINDOW, "Shell_TrayWnd", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

// Ends the shell's tray owner, takes over the tray and announces a new
// taskbar the way Explorer does after a restart.
void CommandRestartExplorer() {
  HWND oldTray = FindWindowA("Shell_TrayWnd", nullptr);
  if (oldTray) {
    DWORD owner = 0;
    GetWindowThreadProcessId(oldTray, &owner);
    HANDLE shell = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, owner);
    if (!shell) {
      Answer("err cannot open the shell process %lu", owner);
      return;
    }
    TerminateProcess(shell, 1);
    WaitForSingleObject(shell, 10000);
    CloseHandle(shell);
  }
  // The old tray window and its icons go with the shell.
  LARGE_INTEGER begun = Now();
  while ((FindWindowA("Shell_TrayWnd", nullptr) || FindWindowA(nullptr, "Wine System Tray")) &&
         MillisecondsSince(begun) < 10000)
    Sleep(10);
  if (FindWindowA("Shell_TrayWnd", nullptr)) {
    Answer("err old tray still there");
    return;
  }
  HMODULE x11 = LoadLibraryA("winex11.drv");
  wineNotifyIcon = x11 ? reinterpret_cast<NotifyIconFunction>(reinterpret_cast<void*>(GetProcAddress(x11, "wine_notify_icon"))) : nullptr;
  if (!wineNotifyIcon) {
    Answer("err no wine_notify_icon");
    return;
  }
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, TrayHostThread, ready, 0, nullptr);
  WaitForSingleObject(ready, 10000);
  CloseHandle(ready);
  if (thread) CloseHandle(thread);
  if (!driver.trayHost) {
    Answer("err cannot create the tray window");
    return;
  }
  int before = trayRequests;
  DWORD_PTR ignored = 0;
  UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  SendMessageTimeoutA(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  Answer("ok oldtray=%d requests=%d", oldTray ? 1 : 0, int(trayRequests) - before);
}

// --- The virtual thermometer ------------------------------------------------

void CommandStatus() {
  VThermoStatus status = {};
  if (!VThermoGetStatus(VTHERMO_FIRST, &status)) {
    Answer("err status");
    return;
  }
  Answer("ok plugged=%d raw=%d reports=%lu interval=%lu", status.plugged ? 1 : 0, status.raw,
         static_cast<unsigned long>(status.reportsDelivered), static_cast<unsigned long>(status.intervalMs));
}

void RunCommand(const std::vector<std::string>& words) {
  const std::string& verb = words[0];
  auto number = [&](size_t index, long fallback) {
    return index < words.size() ? std::strtol(words[index].c_str(), nullptr, 10) : fallback;
  };
  if (verb == "start" && words.size() >= 2) {
    CommandStart(words[1], words.size() >= 3 ? words[2] : "-");
  } else if (verb == "window") {
    AnswerWindow(ProgramWindow());
  } else if (verb == "waitwindow") {
    CommandWaitWindow(number(1, 10000));
  } else if (verb == "waittext" && words.size() >= 2) {
    CommandWaitText(words[1], number(2, 10000));
  } else if (verb == "waitvisible") {
    CommandWaitVisible(number(1, 1), number(2, 10000));
  } else if (verb == "stayvisible") {
    CommandStayVisible(number(1, 0));
  } else if (verb == "waitexit") {
    CommandWaitExit(number(1, 10000));
  } else if (verb == "closewait") {
    CommandCloseWait(number(1, 10000));
  } else if (verb == "cpu") {
    Answer("ok ms=%.1f", CpuMilliseconds());
  } else if (verb == "handles") {
    CommandHandles();
  } else if (verb == "kill") {
    CommandKill();
  } else if (verb == "button") {
    CommandCaptionButton(number(1, HTCLOSE));
  } else if (verb == "tray") {
    CommandTray();
  } else if (verb == "waitmenu") {
    CommandWaitMenu(number(1, 1), number(2, 5000));
  } else if (verb == "restartexplorer") {
    CommandRestartExplorer();
  } else if (verb == "plug") {
    Answer(VThermoPlug(VTHERMO_FIRST, int16_t(number(1, 294)), 20000) ? "ok" : "err plug");
  } else if (verb == "unplug") {
    Answer(VThermoUnplug(VTHERMO_FIRST, 20000) ? "ok" : "err unplug");
  } else if (verb == "unplugall") {
    Answer(VThermoUnplugAll(20000) ? "ok" : "err unplugall");
  } else if (verb == "setraw") {
    Answer(VThermoSetRaw(VTHERMO_FIRST, int16_t(number(1, 294))) ? "ok" : "err setraw");
  } else if (verb == "status") {
    CommandStatus();
  } else {
    Answer("err unknown command %s", verb.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: e2e_driver <program.exe>\n");
    return 2;
  }
  driver.exePath = argv[1];
  char line[4096];
  while (fgets(line, sizeof(line), stdin)) {
    std::vector<std::string> words;
    for (char* word = std::strtok(line, " \r\n"); word; word = std::strtok(nullptr, " \r\n")) words.push_back(word);
    if (words.empty()) continue;
    if (words[0] == "quit") break;
    RunCommand(words);
  }
  if (driver.process && !ProcessEnded()) TerminateProcess(driver.process, 99);
  if (driver.process) CloseHandle(driver.process);
  return 0;
}
