#include "output_files.h"

#include <cstdio>

#include "output_template.h"

namespace {

const char* const MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Text mode, so every line feed is stored as CR LF, as the readers expect.
bool WriteFile(const char* name, const std::string& content) {
  FILE* file = std::fopen(name, "w");
  if (file == nullptr) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

std::string FormatInteger(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return text;
}

}  // namespace

std::string FormatDateLine(const struct tm* localTime) {
  if (localTime == nullptr || localTime->tm_mon < 0 || localTime->tm_mon > 11) return "\n";
  char line[64];
  std::snprintf(line, sizeof line, "%s %02d %04d %02d:%02d\n", MONTH_NAMES[localTime->tm_mon],
                localTime->tm_mday, localTime->tm_year + 1900, localTime->tm_hour,
                localTime->tm_min);
  return line;
}

std::string FormatWeatherLine(const TemperatureReading& reading) {
  if (!IsValidReading(reading)) return "000/000t...\n";
  char line[32];
  std::snprintf(line, sizeof line, "000/000t%03d\n", static_cast<int>(reading.fahrenheit));
  return line;
}

bool WriteReadingFiles(const TemperatureReading& reading, const char* outputTemplate,
                       TimeSource now) {
  const bool valid = IsValidReading(reading);
  const std::string line =
      valid ? FormatOutputTemplate(outputTemplate, reading.celsius, reading.fahrenheit) : "";
  bool all = WriteFile(TEMPERATURE_FILE, line);
  all = WriteFile(CELSIUS_FILE, valid ? FormatInteger(reading.celsius) : "") && all;
  all = WriteFile(FAHRENHEIT_FILE, valid ? FormatInteger(reading.fahrenheit) : "") && all;

  FILE* weather = std::fopen(WEATHER_FILE, "w");
  if (weather == nullptr) return false;
  // The time is taken once the file is open, so it is the time of writing.
  const time_t stamp = now(nullptr);
  const std::string content = FormatDateLine(std::localtime(&stamp)) + FormatWeatherLine(reading);
  const bool written = std::fwrite(content.data(), 1, content.size(), weather) == content.size();
  return std::fclose(weather) == 0 && written && all;
}

bool ClearOutputFiles() {
  bool all = true;
  for (const char* name : {TEMPERATURE_FILE, CELSIUS_FILE, FAHRENHEIT_FILE, WEATHER_FILE}) {
    all = WriteFile(name, "") && all;
  }
  return all;
}
