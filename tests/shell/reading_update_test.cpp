#include "reading_update.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <ctime>
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

const char* const FILES[] = {TEMPERATURE_FILE, CELSIUS_FILE, FAHRENHEIT_FILE, WEATHER_FILE};

std::string ReadBytes(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

// Text mode stores every line feed as CR LF.
std::string OnDisk(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, "\r");
  }
  return text;
}

std::string DateLineAt(time_t when) { return OnDisk(FormatDateLine(std::localtime(&when))); }

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::string Label(HWND window) {
  char text[64] = {};
  GetDlgItemTextA(window, IDC_TEMPERATURE, text, sizeof text);
  return text;
}

enum class Icon { NoReading, Cold, Warm };

// The main window made from its own template, with a tray icon added the way
// the start-up does it, in a folder of its own; the state is as at start.
class ReadingUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = fs::current_path();
    directory = fs::temp_directory_path() /
                (std::string("quorvel-update-") + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++testNumber));
    fs::remove_all(directory);
    fs::create_directories(directory);
    fs::current_path(directory);

    HINSTANCE module = GetModuleHandleA(nullptr);
    window = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QuietDialogProc, 0);
    ASSERT_NE(window, nullptr);
    appState.iconWarm = LoadIconA(module, MAKEINTRESOURCEA(IDI_WARM));
    appState.iconCold = LoadIconA(module, MAKEINTRESOURCEA(IDI_COLD));
    appState.iconNoReading = LoadIconA(module, MAKEINTRESOURCEA(IDI_NOREADING));
    ASSERT_NE(appState.iconWarm, appState.iconCold);
    ASSERT_NE(appState.iconCold, appState.iconNoReading);
    appState.lastRaw = -1;
    BuildOutputTemplate("", appState.outputTemplate);

    NOTIFYICONDATAA& tray = appState.trayData;
    tray = {};
    tray.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
    tray.hWnd = window;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_TRAYNOTIFY;
    tray.hIcon = appState.iconNoReading;
    std::snprintf(tray.szTip, sizeof tray.szTip, "***");
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &tray));
  }

  void TearDown() override {
    NOTIFYICONDATAA gone = {};
    gone.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
    gone.hWnd = window;
    Shell_NotifyIconA(NIM_DELETE, &gone);
    if (window != nullptr) DestroyWindow(window);
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }

  HICON IconFor(Icon icon) const {
    switch (icon) {
      case Icon::Warm:
        return appState.iconWarm;
      case Icon::Cold:
        return appState.iconCold;
      case Icon::NoReading:
        break;
    }
    return appState.iconNoReading;
  }

  // Marks label, tooltip, icon and files so that any rewrite shows.
  void MarkEverything() {
    SetDlgItemTextA(window, IDC_TEMPERATURE, "mark");
    std::snprintf(appState.trayData.szTip, sizeof appState.trayData.szTip, "mark");
    appState.trayData.hIcon = nullptr;
    for (const char* name : FILES) WriteBytes(name, "mark");
  }

  bool EverythingMarked() {
    bool marked = Label(window) == "mark" && std::string(appState.trayData.szTip) == "mark" &&
                  appState.trayData.hIcon == nullptr;
    for (const char* name : FILES) marked = marked && ReadBytes(name) == "mark";
    return marked;
  }

  static int testNumber;
  fs::path previous;
  fs::path directory;
  HWND window = nullptr;
};

int ReadingUpdateTest::testNumber = 0;

struct Delivery {
  int32_t raw;
  const char* text;
  Icon icon;
  const char* temperatureFile;
  const char* celsiusFile;
  const char* fahrenheitFile;
  const char* weatherLine;
};

class ReadingUpdateCases : public ReadingUpdateTest,
                           public ::testing::WithParamInterface<Delivery> {};

// The first delivery after start always takes effect, a 0 included.
TEST_P(ReadingUpdateCases, FirstDeliveryShowsAndWritesTheReading) {
  const Delivery& delivery = GetParam();
  MarkEverything();

  const time_t before = std::time(nullptr);
  EXPECT_EQ(UpdateReading(window, delivery.raw), FALSE);
  const time_t after = std::time(nullptr);

  EXPECT_EQ(Label(window), delivery.text);
  EXPECT_STREQ(appState.trayData.szTip, delivery.text);
  EXPECT_EQ(appState.trayData.hIcon, IconFor(delivery.icon));
  // The record keeps the flags it was added with, so a later modify still
  // changes both icon and tooltip.
  EXPECT_EQ(appState.trayData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(appState.lastRaw, delivery.raw);

  EXPECT_EQ(ReadBytes(TEMPERATURE_FILE), OnDisk(delivery.temperatureFile));
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), delivery.celsiusFile);
  EXPECT_EQ(ReadBytes(FAHRENHEIT_FILE), delivery.fahrenheitFile);
  const std::string weather = ReadBytes(WEATHER_FILE);
  const std::string weatherLine = OnDisk(delivery.weatherLine);
  ASSERT_GT(weather.size(), weatherLine.size());
  const std::string dateLine = weather.substr(0, weather.size() - weatherLine.size());
  EXPECT_TRUE(dateLine == DateLineAt(before) || dateLine == DateLineAt(after)) << dateLine;
  EXPECT_EQ(weather.substr(dateLine.size()), weatherLine);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ReadingUpdateCases,
    ::testing::Values(
        Delivery{0, "***", Icon::NoReading, "", "", "", "000/000t...\n"},
        Delivery{290, "17 \xB0" "C", Icon::Warm, "Temperature: 17C (62F).\n", "17", "62",
                 "000/000t062\n"},
        Delivery{273, "0 \xB0" "C", Icon::Cold, "Temperature: 0C (32F).\n", "0", "32",
                 "000/000t032\n"},
        Delivery{274, "1 \xB0" "C", Icon::Warm, "Temperature: 1C (33F).\n", "1", "33",
                 "000/000t033\n"},
        Delivery{1, "-272 \xB0" "C", Icon::Cold, "Temperature: -272C (-457F).\n", "-272", "-457",
                 "000/000t-457\n"},
        Delivery{999, "726 \xB0" "C", Icon::Warm, "Temperature: 726C (1338F).\n", "726", "1338",
                 "000/000t1338\n"},
        // Never sent by the reader, which turns invalid reports into 0, but
        // shown as no reading all the same.
        Delivery{1000, "***", Icon::NoReading, "", "", "", "000/000t...\n"}));

// Only a changed value takes effect: a poll that brings the same value, or a
// second removal, rewrites nothing, so the weather file keeps the time of the
// last change.
TEST_F(ReadingUpdateTest, OnlyAChangedValueTakesEffect) {
  struct Step {
    int32_t raw;
    bool takesEffect;
  };
  const Step steps[] = {{290, true}, {290, false}, {291, true}, {0, true},
                        {0, false},  {291, true},  {291, false}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.raw);
    MarkEverything();
    UpdateReading(window, step.raw);
    EXPECT_EQ(EverythingMarked(), !step.takesEffect);
    EXPECT_EQ(appState.lastRaw, step.raw);
  }
}

TEST_F(ReadingUpdateTest, FreezingToOneDegreeSwitchesIconAndText) {
  UpdateReading(window, 273);
  EXPECT_EQ(Label(window), "0 \xB0" "C");
  EXPECT_EQ(appState.trayData.hIcon, appState.iconCold);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "0");

  UpdateReading(window, 274);
  EXPECT_EQ(Label(window), "1 \xB0" "C");
  EXPECT_STREQ(appState.trayData.szTip, "1 \xB0" "C");
  EXPECT_EQ(appState.trayData.hIcon, appState.iconWarm);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "1");
  EXPECT_EQ(ReadBytes(TEMPERATURE_FILE), "Temperature: 1C (33F).\r\n");
}

// A file that its reader holds open at the moment of writing gets the
// reading at the next poll, whether that brings the same value again or the
// value from before.
TEST_F(ReadingUpdateTest, FileLockedByItsReaderIsWrittenAtTheNextPoll) {
  auto WeatherLine = [] {
    const std::string weather = ReadBytes(WEATHER_FILE);
    return weather.substr(weather.find('\n') + 1);
  };
  auto DeliverWhileLocked = [this](int32_t raw) {
    HANDLE held = CreateFileA(WEATHER_FILE, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    UpdateReading(window, raw);
    CloseHandle(held);
  };

  UpdateReading(window, 290);
  ASSERT_EQ(WeatherLine(), "000/000t062\r\n");

  DeliverWhileLocked(291);
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "18");
  EXPECT_EQ(WeatherLine(), "000/000t062\r\n");  // missed the change
  UpdateReading(window, 291);
  EXPECT_EQ(WeatherLine(), "000/000t064\r\n");

  DeliverWhileLocked(292);
  EXPECT_EQ(Label(window), "19 \xB0" "C");
  UpdateReading(window, 291);
  EXPECT_EQ(Label(window), "18 \xB0" "C");
  EXPECT_EQ(ReadBytes(CELSIUS_FILE), "18");
  EXPECT_EQ(WeatherLine(), "000/000t064\r\n");

  // Handled now: another poll with the same value rewrites nothing.
  MarkEverything();
  UpdateReading(window, 291);
  EXPECT_TRUE(EverythingMarked());
}

// The template from the command tail reaches "temperature.txt".
TEST_F(ReadingUpdateTest, WritesTheCommandLineTemplate) {
  BuildOutputTemplate("Now %d C / %d F\\r\\nend", appState.outputTemplate);
  UpdateReading(window, 290);
  EXPECT_EQ(ReadBytes(TEMPERATURE_FILE), "Now 17 C / 62 F\r\r\nend\r\n");
}

// After the close sequence has removed the icon, a late reading finds no icon
// to change and brings none back.
TEST_F(ReadingUpdateTest, LateReadingAfterRemovalAddsNoIcon) {
  NOTIFYICONDATAA gone = {};
  gone.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
  gone.hWnd = window;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  appState.trayData = gone;

  UpdateReading(window, 290);
  EXPECT_EQ(Label(window), "17 \xB0" "C");
  // Had the reading added an icon, it could be deleted now.
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &gone));
}

}  // namespace
