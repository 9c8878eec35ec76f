// The main window's own handling, with MainDialogProc driving a window made
// from the program's template. No thermometer is plugged in here: readings
// are sent the way the reader sends them.
#include "main_window.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app_state.h"
#include "output_files.h"
#include "output_template.h"
#include "resource.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the window's messages until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 10000) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = fs::current_path();
    directory = fs::temp_directory_path() / ("quorvel-window-" +
                                             std::to_string(GetCurrentProcessId()) + "-" +
                                             std::to_string(++testNumber));
    fs::remove_all(directory);
    fs::create_directories(directory);
    fs::current_path(directory);

    appState.instance = GetModuleHandleA(nullptr);
    appState.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    appState.closing = false;
    appState.closeTries = 0;
    appState.lastRaw = -1;
    BuildOutputTemplate("", appState.outputTemplate);
    window = CreateDialogParamA(appState.instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                MainDialogProc, 0);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
  }

  void TearDown() override {
    if (window != nullptr) {
      if (!appState.closing) SendMessageA(window, WM_CLOSE, 0, 0);
      WaitFor([] { return appState.readerRunning == 0; });
      DestroyWindow(window);
    }
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }

  // A modify without flags changes nothing and succeeds only while the
  // shell holds the window's icon.
  bool TrayIconPresent() {
    NOTIFYICONDATAA probe = {};
    probe.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
    probe.hWnd = window;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
  }

  // What a newly started Explorer knows: no icon at all.
  void ForgetTrayIcon() {
    NOTIFYICONDATAA gone = {};
    gone.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
    gone.hWnd = window;
    Shell_NotifyIconA(NIM_DELETE, &gone);
  }

  std::string Label() {
    char text[64] = {};
    GetDlgItemTextA(window, IDC_TEMPERATURE, text, sizeof text);
    return text;
  }

  static int testNumber;
  fs::path previous;
  fs::path directory;
  HWND window = nullptr;
};

int MainWindowTest::testNumber = 0;

TEST_F(MainWindowTest, StartsWithTheGreyIconAndStarsInTheTray) {
  const NOTIFYICONDATAA& tray = appState.trayData;
  EXPECT_EQ(tray.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
  EXPECT_EQ(tray.hWnd, window);
  EXPECT_EQ(tray.uID, 0u);
  EXPECT_EQ(tray.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(tray.uCallbackMessage, WM_TRAYNOTIFY);
  EXPECT_EQ(tray.hIcon, appState.iconNoReading);
  EXPECT_STREQ(tray.szTip, "***");
  EXPECT_TRUE(TrayIconPresent());
  EXPECT_EQ(Label(), "***");

  // The tray draws small icons: the 16x16 images are the ones loaded.
  for (HICON icon : {appState.iconWarm, appState.iconCold, appState.iconNoReading}) {
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, GetSystemMetrics(SM_CXSMICON));
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
}

TEST_F(MainWindowTest, ReadingsReachTheWindowTrayAndFiles) {
  SendMessageA(window, WM_TEMPERATURE, 290, 0);
  EXPECT_EQ(Label(), "17 \xB0" "C");
  EXPECT_EQ(appState.trayData.hIcon, appState.iconWarm);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "17");
}

// Explorer announces a new taskbar after a restart; the icon comes back with
// what it showed.
TEST_F(MainWindowTest, NewTaskbarGetsTheIconBackAsItWas) {
  SendMessageA(window, WM_TEMPERATURE, 272, 0);
  ForgetTrayIcon();
  ASSERT_FALSE(TrayIconPresent());

  SendMessageA(window, appState.taskbarCreatedMessage, 0, 0);
  EXPECT_TRUE(TrayIconPresent());
  EXPECT_EQ(appState.trayData.hIcon, appState.iconCold);
  EXPECT_STREQ(appState.trayData.szTip, "-1 \xB0" "C");
  EXPECT_EQ(appState.trayData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
}

// Once the close has begun, nothing brings the icon or a reading back.
TEST_F(MainWindowTest, CloseRemovesIconAndEmptiesFilesForGood) {
  SendMessageA(window, WM_TEMPERATURE, 290, 0);
  ASSERT_EQ(ReadBytes(CELSIUS_FILE), "17");

  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(TrayIconPresent());
  for (const char* name : {TEMPERATURE_FILE, CELSIUS_FILE, FAHRENHEIT_FILE, WEATHER_FILE}) {
    EXPECT_TRUE(fs::exists(name)) << name;
    EXPECT_EQ(ReadBytes(name), "") << name;
  }
  EXPECT_EQ(appState.stopReader, 1);

  SendMessageA(window, appState.taskbarCreatedMessage, 0, 0);
  EXPECT_FALSE(TrayIconPresent());
  SendMessageA(window, WM_TEMPERATURE, 300, 0);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "");
  EXPECT_FALSE(TrayIconPresent());
}

// Logging off ends the program without a WM_CLOSE: the files must not keep
// the last reading, and nothing may bring it back.
TEST_F(MainWindowTest, EndOfSessionEmptiesFilesAndRemovesTheIcon) {
  SendMessageA(window, WM_TEMPERATURE, 290, 0);
  SendMessageA(window, WM_ENDSESSION, FALSE, 0);  // logoff cancelled: nothing happens
  EXPECT_TRUE(TrayIconPresent());
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "17");

  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(TrayIconPresent());
  for (const char* name : {TEMPERATURE_FILE, CELSIUS_FILE, FAHRENHEIT_FILE, WEATHER_FILE}) {
    EXPECT_EQ(ReadBytes(name), "") << name;
  }
  SendMessageA(window, WM_TEMPERATURE, 300, 0);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "");
}

// A file that another program is reading at the moment of closing is
// emptied as soon as it is free again.
TEST_F(MainWindowTest, CloseEmptiesAFileOnceItsReaderLetsGo) {
  SendMessageA(window, WM_TEMPERATURE, 290, 0);
  HANDLE held = CreateFileA(WEATHER_FILE, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "");
  CloseHandle(held);
  // The next try comes from the window's messages, which have not run yet.
  EXPECT_NE(ReadBytes(WEATHER_FILE), "");
  EXPECT_TRUE(WaitFor([] { return ReadBytes(WEATHER_FILE).empty(); }, 1500));
}

TEST_F(MainWindowTest, LeftClickOnTheIconTogglesAndRestoresAtNormalSize) {
  ASSERT_TRUE(IsWindowVisible(window));
  SendMessageA(window, WM_TRAYNOTIFY, 0, WM_LBUTTONDOWN);
  EXPECT_FALSE(IsWindowVisible(window));
  SendMessageA(window, WM_TRAYNOTIFY, 0, WM_LBUTTONDOWN);
  EXPECT_TRUE(IsWindowVisible(window));

  // Hidden while minimised: it comes back at its normal size.
  ShowWindow(window, SW_MINIMIZE);
  ShowWindow(window, SW_HIDE);
  SendMessageA(window, WM_TRAYNOTIFY, 0, WM_LBUTTONDOWN);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_FALSE(IsIconic(window));
}

// The minimise button hides the window instead of leaving it on the taskbar;
// the system's own low bits in the command do not matter.
TEST_F(MainWindowTest, MinimiseHidesTheWindow) {
  for (WPARAM command : {WPARAM{SC_MINIMIZE}, WPARAM{SC_MINIMIZE | 0x2}}) {
    SCOPED_TRACE(command);
    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(IsWindowVisible(window));
    SendMessageA(window, WM_SYSCOMMAND, command, 0);
    EXPECT_TRUE(WaitFor([this] { return !IsWindowVisible(window); }));
  }
}

TEST_F(MainWindowTest, HidesItselfAfterThreeSeconds) {
  const DWORD start = GetTickCount();
  ASSERT_TRUE(WaitFor([this] { return !IsWindowVisible(window); }));
  EXPECT_GE(GetTickCount() - start, 2500u);
}

}  // namespace
