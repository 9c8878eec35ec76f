#include "output_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "output_template.h"

namespace {

namespace fs = std::filesystem;

// 2026-07-05 03:37:00 UTC, which is 09:07 in a zone at UTC+5:30.
constexpr time_t JULY_FIFTH_0337_UTC = 1783222620;

time_t FixedTime(time_t* out) {
  if (out != nullptr) *out = JULY_FIFTH_0337_UTC;
  return JULY_FIFTH_0337_UTC;
}

time_t FailingTime(time_t* out) {
  if (out != nullptr) *out = static_cast<time_t>(-1);
  return static_cast<time_t>(-1);
}

std::string ReadBytes(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each test runs in a directory of its own, in a zone with a half-hour offset
// so that a date line written in UTC or with a wrong minute shows.
class OutputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = fs::current_path();
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory = fs::temp_directory_path() / (std::string("quorvel-files-") + info->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
    fs::current_path(directory);
    _putenv("TZ=IST-5:30");
    _tzset();
    BuildOutputTemplate("", outputTemplate);
  }
  void TearDown() override {
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }
  fs::path previous;
  fs::path directory;
  char outputTemplate[OUTPUT_TEMPLATE_SIZE];
};

TEST_F(OutputFilesTest, ValidReadingWritesAllFourFiles) {
  WriteReadingFiles(MakeReading(290), outputTemplate, FixedTime);
  EXPECT_EQ(ReadBytes("temperature.txt"), "Temperature: 17C (62F).\r\n");
  EXPECT_EQ(ReadBytes("celsius.txt"), "17");
  EXPECT_EQ(ReadBytes("fahrenheit.txt"), "62");
  EXPECT_EQ(ReadBytes("ui-view.txt"), "Jul 05 2026 09:07\r\n000/000t062\r\n");
}

TEST_F(OutputFilesTest, NoReadingEmptiesThreeFilesAndMarksTheWeatherMissing) {
  WriteReadingFiles(MakeReading(290), outputTemplate, FixedTime);
  WriteReadingFiles(MakeReading(0), outputTemplate, FixedTime);
  for (const char* name : {"temperature.txt", "celsius.txt", "fahrenheit.txt"}) {
    EXPECT_TRUE(fs::exists(name)) << name;
    EXPECT_EQ(ReadBytes(name), "") << name;
  }
  EXPECT_EQ(ReadBytes("ui-view.txt"), "Jul 05 2026 09:07\r\n000/000t...\r\n");
}

TEST_F(OutputFilesTest, WeatherLineCarriesFahrenheitWithAtLeastThreeCharacters) {
  struct {
    int raw;
    const char* weather;
    const char* fahrenheit;
  } const cases[] = {
      {250, "000/000t-09\r\n", "-9"},  {255, "000/000t000\r\n", "0"},
      {256, "000/000t001\r\n", "1"},   {1, "000/000t-457\r\n", "-457"},
      {999, "000/000t1338\r\n", "1338"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    WriteReadingFiles(MakeReading(c.raw), outputTemplate, FixedTime);
    EXPECT_EQ(ReadBytes("ui-view.txt"), std::string("Jul 05 2026 09:07\r\n") + c.weather);
    EXPECT_EQ(ReadBytes("fahrenheit.txt"), c.fahrenheit);
  }
}

TEST_F(OutputFilesTest, DateLineUsesTheCurrentLocalTime) {
  const time_t before = time(nullptr);
  WriteReadingFiles(MakeReading(290), outputTemplate);
  const time_t after = time(nullptr);
  const std::string content = ReadBytes("ui-view.txt");
  // The minute may turn between the two clock reads; either side is right.
  const std::string first = FormatDateLine(localtime(&before));
  const std::string last = FormatDateLine(localtime(&after));
  const std::string dateLine = content.substr(0, content.find("\r\n")) + "\n";
  EXPECT_TRUE(dateLine == first || dateLine == last) << content;
  EXPECT_EQ(dateLine.size(), std::string("Dec 11 2026 13:15\n").size());
}

TEST_F(OutputFilesTest, UnknownLocalTimeLeavesTheDateLineEmpty) {
  WriteReadingFiles(MakeReading(290), outputTemplate, FailingTime);
  EXPECT_EQ(ReadBytes("ui-view.txt"), "\r\n000/000t062\r\n");
  EXPECT_EQ(FormatDateLine(nullptr), "\n");
}

TEST_F(OutputFilesTest, TemplateEscapesAreStoredInTextMode) {
  BuildOutputTemplate("C=%d\\r\\nF=%d", outputTemplate);
  WriteReadingFiles(MakeReading(290), outputTemplate, FixedTime);
  EXPECT_EQ(ReadBytes("temperature.txt"), "C=17\r\r\nF=62\r\n");
}

TEST_F(OutputFilesTest, ReadOnlyOrLockedFileIsSkipped) {
  {
    std::ofstream("celsius.txt") << "old";
  }
  ASSERT_TRUE(SetFileAttributesA("celsius.txt", FILE_ATTRIBUTE_READONLY));
  // Also held open without sharing: Wine lets root write a read-only file,
  // and a file locked by another program is the other way an open fails.
  HANDLE held = CreateFileA("celsius.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteReadingFiles(MakeReading(290), outputTemplate, FixedTime);
  CloseHandle(held);
  SetFileAttributesA("celsius.txt", FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes("celsius.txt"), "old");
  EXPECT_EQ(ReadBytes("temperature.txt"), "Temperature: 17C (62F).\r\n");
  EXPECT_EQ(ReadBytes("fahrenheit.txt"), "62");
  EXPECT_EQ(ReadBytes("ui-view.txt"), "Jul 05 2026 09:07\r\n000/000t062\r\n");
}

TEST_F(OutputFilesTest, ClearEmptiesAllFour) {
  WriteReadingFiles(MakeReading(290), outputTemplate, FixedTime);
  ClearOutputFiles();
  for (const char* name : {"temperature.txt", "celsius.txt", "fahrenheit.txt", "ui-view.txt"}) {
    EXPECT_TRUE(fs::exists(name)) << name;
    EXPECT_EQ(fs::file_size(name), 0u) << name;
  }
}

}  // namespace
