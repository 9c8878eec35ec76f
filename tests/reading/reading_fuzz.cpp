// Fuzzes the two inputs from outside the program: the command tail (built into
// a template, then formatted) and the bytes of an input report.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output_template.h"
#include "temperature_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= REPORT_MIN_LENGTH) {
    const int raw = DecodeReport(data);
    if (raw < 0 || raw > RAW_MAX_VALID) std::abort();
    const TemperatureReading reading = MakeReading(raw);
    if (FormatDisplayText(reading).size() > 7) std::abort();
  }

  const std::string tail(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  char outputTemplate[OUTPUT_TEMPLATE_SIZE];
  BuildOutputTemplate(tail.c_str(), outputTemplate);
  const size_t length = std::strlen(outputTemplate);
  if (length == 0 || length >= OUTPUT_TEMPLATE_SIZE || outputTemplate[length - 1] != '\n') std::abort();

  const int celsius = size > 0 ? static_cast<int>(data[0]) * 3 - 272 : 17;
  const std::string line = FormatOutputTemplate(outputTemplate, celsius, celsius * 9 / 5 + 32);
  // At most two fields of at most 999 characters besides the template's own text.
  if (line.size() > length + 2 * 999) std::abort();
  return 0;
}
