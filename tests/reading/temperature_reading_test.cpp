#include "temperature_reading.h"

#include <gtest/gtest.h>

namespace {

struct ReadingCase {
  int raw;
  int celsius;
  int fahrenheit;
  const char* text;
  IconClass icon;
};

const ReadingCase READING_CASES[] = {
    {1, -272, -457, "-272 \xB0" "C", IconClass::Cold},
    {250, -23, -9, "-23 \xB0" "C", IconClass::Cold},
    {255, -18, 0, "-18 \xB0" "C", IconClass::Cold},
    {256, -17, 1, "-17 \xB0" "C", IconClass::Cold},
    {273, 0, 32, "0 \xB0" "C", IconClass::Cold},
    {274, 1, 33, "1 \xB0" "C", IconClass::Warm},
    {290, 17, 62, "17 \xB0" "C", IconClass::Warm},
    {373, 100, 212, "100 \xB0" "C", IconClass::Warm},
    {999, 726, 1338, "726 \xB0" "C", IconClass::Warm},
};

TEST(TemperatureReading, KnownValuesConvertDisplayAndClassify) {
  for (const ReadingCase& c : READING_CASES) {
    SCOPED_TRACE(c.raw);
    const TemperatureReading reading = MakeReading(c.raw);
    EXPECT_EQ(reading.raw, c.raw);
    EXPECT_EQ(reading.celsius, c.celsius);
    EXPECT_EQ(reading.fahrenheit, c.fahrenheit);
    EXPECT_EQ(FormatDisplayText(reading), c.text);
    EXPECT_EQ(ClassifyIcon(reading), c.icon);
  }
}

TEST(TemperatureReading, NoReadingShowsStarsAndGreyIcon) {
  const TemperatureReading reading = MakeReading(0);
  EXPECT_FALSE(IsValidReading(reading));
  EXPECT_EQ(FormatDisplayText(reading), "***");
  EXPECT_EQ(ClassifyIcon(reading), IconClass::NoReading);
}

TEST(TemperatureReading, LongestTextIsSevenCharacters) {
  EXPECT_EQ(FormatDisplayText(MakeReading(1)).size(), 7u);
}

TEST(TemperatureReading, FahrenheitIsExactTruncationForEveryValidRaw) {
  for (int raw = RAW_MIN_VALID; raw <= RAW_MAX_VALID; ++raw) {
    const int celsius = raw - 273;
    const int exact = (celsius * 9 + 160) / 5;  // integer division truncates toward zero
    ASSERT_EQ(MakeReading(raw).fahrenheit, exact) << "raw " << raw;
  }
}

TEST(DecodeReport, EveryValueOfBytesOneAndTwoFollowsTheRule) {
  for (int bits = 0; bits <= 0xFFFF; ++bits) {
    const int16_t value = static_cast<int16_t>(bits);
    const int expected = (value >= 1 && value <= 999) ? value : 0;
    // Byte 0 and the bytes after byte 2 vary and must never matter.
    unsigned char report[REPORT_BUFFER_LENGTH];
    for (size_t i = 0; i < sizeof report; ++i) report[i] = static_cast<unsigned char>(bits * 7 + i * 31);
    report[REPORT_KELVIN_LOW_OFFSET] = static_cast<unsigned char>(bits & 0xFF);
    report[REPORT_KELVIN_HIGH_OFFSET] = static_cast<unsigned char>(bits >> 8);
    ASSERT_EQ(DecodeReport(report), expected) << "bits " << bits;
  }
}

TEST(DecodeReport, NamedReports) {
  struct {
    unsigned char report[4];
    int raw;
  } const cases[] = {
      {{0x00, 0x22, 0x01, 0x00}, 290}, {{0x00, 0xE7, 0x03, 0x00}, 999},
      {{0x00, 0xE8, 0x03, 0x00}, 0},   {{0x00, 0x00, 0x80, 0x00}, 0},
      {{0x00, 0x00, 0x00, 0x00}, 0},   {{0xFF, 0x22, 0x01, 0xFF}, 290},
      {{0x00, 0xFF, 0xFF, 0x00}, 0},   {{0x00, 0x01, 0x00, 0x00}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeReport(c.report), c.raw);
}

}  // namespace
