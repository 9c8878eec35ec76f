// The four files in the current directory through which other programs pick
// up the latest reading. Each is rewritten whole and closed at once.
#pragma once

#include <ctime>
#include <string>

#include "temperature_reading.h"

constexpr const char* TEMPERATURE_FILE = "temperature.txt";
constexpr const char* CELSIUS_FILE = "celsius.txt";
constexpr const char* FAHRENHEIT_FILE = "fahrenheit.txt";
constexpr const char* WEATHER_FILE = "ui-view.txt";

using TimeSource = time_t (*)(time_t*);

// First line of the weather file, e.g. "Jul 05 2026 09:07\n"; just "\n" when
// the local time is unknown, so the weather stays on the second line.
std::string FormatDateLine(const struct tm* localTime);
// Second line of the weather file: an APRS positionless weather body.
std::string FormatWeatherLine(const TemperatureReading& reading);

// Writes all four files for the reading; a file that cannot be opened is
// skipped. Returns whether all four were written.
bool WriteReadingFiles(const TemperatureReading& reading, const char* outputTemplate,
                       TimeSource now = time);
// Leaves all four files empty; returns whether all four could be emptied.
bool ClearOutputFiles();
