// The thermometer as the program relies on it: its identity and the layout
// of its input report. Platform-free, so the value logic can use it too.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t THERMOMETER_VENDOR_ID = 0x0000;
constexpr uint16_t THERMOMETER_PRODUCT_ID = 0x0003;

// Input report as the HID class driver delivers it.
constexpr size_t REPORT_ID_OFFSET = 0;         // not examined
constexpr size_t REPORT_KELVIN_LOW_OFFSET = 1;  // signed 16-bit little-endian kelvins
constexpr size_t REPORT_KELVIN_HIGH_OFFSET = 2;
constexpr size_t REPORT_MIN_LENGTH = 3;         // what decoding needs
constexpr size_t REPORT_BUFFER_LENGTH = 12;     // the usual read buffer

// A raw reading is whole kelvins; 0 means no valid reading.
constexpr int RAW_NO_READING = 0;
constexpr int RAW_MIN_VALID = 1;
constexpr int RAW_MAX_VALID = 999;
