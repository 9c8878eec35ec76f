#include "temperature_reading.h"

#include <cstdio>

int DecodeReport(const unsigned char* buffer) {
  const uint16_t bits = static_cast<uint16_t>(buffer[REPORT_KELVIN_LOW_OFFSET] |
                                              (buffer[REPORT_KELVIN_HIGH_OFFSET] << 8));
  const int kelvins = static_cast<int16_t>(bits);
  if (kelvins < RAW_MIN_VALID || kelvins > RAW_MAX_VALID) return RAW_NO_READING;
  return kelvins;
}

TemperatureReading MakeReading(int raw) {
  TemperatureReading reading = {raw, 0, 0};
  // Derived values only exist for a valid reading; no other raw value is ever presented.
  if (raw >= RAW_MIN_VALID && raw <= RAW_MAX_VALID) {
    reading.celsius = raw - 273;
    // Truncation toward zero, not flooring: -18 C is 0 F (from -0.4).
    reading.fahrenheit = static_cast<int32_t>(static_cast<double>(reading.celsius) * 1.8 + 32.0);
  }
  return reading;
}

bool IsValidReading(const TemperatureReading& reading) {
  return reading.raw >= RAW_MIN_VALID && reading.raw <= RAW_MAX_VALID;
}

std::string FormatDisplayText(const TemperatureReading& reading) {
  if (!IsValidReading(reading)) return "***";
  char text[16];
  std::snprintf(text, sizeof text, "%d \xB0" "C", static_cast<int>(reading.celsius));
  return text;
}

IconClass ClassifyIcon(const TemperatureReading& reading) {
  if (!IsValidReading(reading)) return IconClass::NoReading;
  return reading.celsius > 0 ? IconClass::Warm : IconClass::Cold;
}
