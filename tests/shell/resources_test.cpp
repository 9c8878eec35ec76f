// The program's resources as they are linked: icons, tray menu, main window
// template and version record.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "version.h"

extern std::string resourceFilePath;

namespace {

// Reads the resource file's resources without running any of its code.
class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExA(resourceFilePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << resourceFilePath;
  }
  void TearDown() override {
    if (module != nullptr) FreeLibrary(module);
  }

  std::vector<uint8_t> Resource(int id, LPCSTR type) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
  }

  HMODULE module = nullptr;
};

// Walks a resource template: little-endian words and NUL-terminated UTF-16.
struct TemplateReader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;

  uint16_t Word() {
    uint16_t value = 0;
    if (at + 2 <= bytes.size()) std::memcpy(&value, &bytes[at], 2);
    at += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | static_cast<uint32_t>(Word()) << 16;
  }
  // Our texts are ASCII, so each UTF-16 unit is one char.
  std::string Text() {
    std::string text;
    for (uint16_t unit = Word(); unit != 0 && at <= bytes.size(); unit = Word()) {
      text += static_cast<char>(unit);
    }
    return text;
  }
  void AlignToDword() { at = (at + 3) & ~size_t{3}; }
};

struct IconCase {
  int id;
  COLORREF colour;
};

class IconTest : public ResourcesTest, public ::testing::WithParamInterface<IconCase> {};

TEST_P(IconTest, GroupHoldsA32And16PixelSixteenColourImage) {
  const std::vector<uint8_t> group = Resource(GetParam().id, RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  TemplateReader reader{group};
  EXPECT_EQ(reader.Word(), 0);  // reserved
  EXPECT_EQ(reader.Word(), 1);  // icon, not cursor
  ASSERT_EQ(reader.Word(), 2);
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  for (int size : {32, 16}) {
    SCOPED_TRACE(size);
    const uint8_t* entry = &group[reader.at];
    EXPECT_EQ(entry[0], size);
    EXPECT_EQ(entry[1], size);
    EXPECT_EQ(entry[2], 16);  // colours
    uint16_t planes = 0, bitCount = 0;
    std::memcpy(&planes, entry + 4, 2);
    std::memcpy(&bitCount, entry + 6, 2);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bitCount, 4);
    reader.at += 14;
  }
}

// Drawn over white, each image shows only white (its transparent background)
// and its one colour, with the glyph in that colour and the corners clear.
TEST_P(IconTest, ImagesShowTheGlyphInTheirColourOnATransparentBackground) {
  for (int size : {32, 16}) {
    SCOPED_TRACE(size);
    HICON icon = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(GetParam().id), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr);

    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, size);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC canvas = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(canvas, bitmap);
    RECT all = {0, 0, size, size};
    FillRect(canvas, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_TRUE(DrawIconEx(canvas, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL));
    GdiFlush();

    const auto* pixels = static_cast<const uint32_t*>(bits);
    const COLORREF colour = GetParam().colour;
    const uint32_t wanted = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
    int coloured = 0, other = 0;
    for (int i = 0; i < size * size; ++i) {
      const uint32_t pixel = pixels[i] & 0xFFFFFF;
      if (pixel == wanted) {
        ++coloured;
      } else if (pixel != 0xFFFFFF) {
        ++other;
      }
    }
    EXPECT_EQ(other, 0);
    EXPECT_GT(coloured, size * size / 10);
    EXPECT_LT(coloured, size * size / 2);
    for (int corner : {0, size - 1, size * (size - 1), size * size - 1}) {
      EXPECT_EQ(pixels[corner] & 0xFFFFFF, 0xFFFFFFu) << corner;
    }

    SelectObject(canvas, old);
    DeleteObject(bitmap);
    DeleteDC(canvas);
    DestroyIcon(icon);
  }
}

INSTANTIATE_TEST_SUITE_P(Icons, IconTest,
                         ::testing::Values(IconCase{IDI_WARM, RGB(255, 0, 0)},
                                           IconCase{IDI_COLD, RGB(0, 0, 255)},
                                           IconCase{IDI_NOREADING, RGB(128, 128, 128)}));

std::string MenuText(HMENU menu, UINT position) {
  char text[64] = {};
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

TEST_F(ResourcesTest, TrayMenuOffersShowHideAndClose) {
  HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAYMENU));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuItemCount(menu), 1);
  EXPECT_EQ(MenuText(menu, 0), "Menu");
  HMENU items = GetSubMenu(menu, 0);
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(GetMenuItemCount(items), 3);

  EXPECT_EQ(MenuText(items, 0), "Show/hide");
  EXPECT_EQ(GetMenuItemID(items, 0), static_cast<UINT>(ID_SHOWHIDE));
  MENUITEMINFOA separator = {};
  separator.cbSize = sizeof separator;
  separator.fMask = MIIM_FTYPE;
  ASSERT_TRUE(GetMenuItemInfoA(items, 1, TRUE, &separator));
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
  EXPECT_EQ(MenuText(items, 2), "Close");
  EXPECT_EQ(GetMenuItemID(items, 2), static_cast<UINT>(ID_CLOSE));
  DestroyMenu(menu);
}

TEST_F(ResourcesTest, MainWindowTemplateIsAsDesigned) {
  const std::vector<uint8_t> bytes = Resource(IDD_MAIN, RT_DIALOG);
  ASSERT_GT(bytes.size(), 18u);
  TemplateReader reader{bytes};
  EXPECT_EQ(reader.Dword(), static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                  WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER |
                                                  DS_SETFONT));
  EXPECT_EQ(reader.Dword(), 0u);  // no extended styles
  ASSERT_EQ(reader.Word(), 1);    // one control
  EXPECT_EQ(reader.Word(), 0);
  EXPECT_EQ(reader.Word(), 0);
  EXPECT_EQ(reader.Word(), 32);
  EXPECT_EQ(reader.Word(), 14);
  EXPECT_EQ(reader.Word(), 0);  // no menu bar
  EXPECT_EQ(reader.Word(), 0);  // the standard dialog class
  EXPECT_EQ(reader.Text(), " Quorvel");
  EXPECT_EQ(reader.Word(), 24);
  EXPECT_EQ(reader.Text(), "MS Sans Serif");

  reader.AlignToDword();
  EXPECT_EQ(reader.Dword(), static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER |
                                                  SS_CENTERIMAGE));
  EXPECT_EQ(reader.Dword(), 0u);
  EXPECT_EQ(reader.Word(), 1);
  EXPECT_EQ(reader.Word(), 3);
  EXPECT_EQ(reader.Word(), 29);
  EXPECT_EQ(reader.Word(), 8);
  EXPECT_EQ(reader.Word(), IDC_TEMPERATURE);
  EXPECT_EQ(reader.Word(), 0xFFFF);  // a predefined class...
  EXPECT_EQ(reader.Word(), 0x0082);  // ...the static control
  EXPECT_EQ(reader.Text(), "***");
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The window as the dialog manager makes it from the test program's own copy
// of the same resource script.
TEST(MainWindowTemplateTest, MakesCentredWindowWithCaptionAndStars) {
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                   QuietDialogProc, 0);
  ASSERT_NE(window, nullptr);
  char text[64] = {};
  GetWindowTextA(window, text, sizeof text);
  EXPECT_STREQ(text, " Quorvel");
  GetDlgItemTextA(window, IDC_TEMPERATURE, text, sizeof text);
  EXPECT_STREQ(text, "***");

  RECT frame = {};
  GetWindowRect(window, &frame);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs(frame.left + frame.right - screenWidth), 2);
  EXPECT_LE(std::abs(frame.top + frame.bottom - screenHeight), 2);
  DestroyWindow(window);
}

TEST_F(ResourcesTest, VersionRecordCarriesTheProgramVersion) {
  char expected[32];
  std::snprintf(expected, sizeof expected, "%d.%d.%d", QUORVEL_VERSION_MAJOR,
                QUORVEL_VERSION_MINOR, QUORVEL_VERSION_PATCH);
  EXPECT_STREQ(expected, QUORVEL_VERSION_STRING);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(resourceFilePath.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoA(resourceFilePath.c_str(), 0, size, record.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(QUORVEL_VERSION_MINOR, QUORVEL_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, QUORVEL_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  for (const char* name : {"ProductVersion", "FileVersion"}) {
    char* value = nullptr;
    const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
    ASSERT_TRUE(VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value),
                               &length))
        << name;
    EXPECT_STREQ(value, QUORVEL_VERSION_STRING) << name;
  }
}

}  // namespace
