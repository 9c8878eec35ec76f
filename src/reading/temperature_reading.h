// The value model of one thermometer reading: report bytes to raw kelvins,
// raw kelvins to Celsius, Fahrenheit, display text and tray icon class.
#pragma once

#include <cstdint>
#include <string>

#include "thermometer_device.h"

struct TemperatureReading {
  int32_t raw;         // whole kelvins; 0 = no valid reading
  int32_t celsius;     // raw - 273
  int32_t fahrenheit;  // celsius * 1.8 + 32, truncated toward zero
};

enum class IconClass { NoReading, Cold, Warm };

// buffer holds at least REPORT_MIN_LENGTH bytes.
int DecodeReport(const unsigned char* buffer);
TemperatureReading MakeReading(int raw);
bool IsValidReading(const TemperatureReading& reading);
// "***", or the Celsius value as "%d \xB0C" in Windows-1252.
std::string FormatDisplayText(const TemperatureReading& reading);
IconClass ClassifyIcon(const TemperatureReading& reading);
