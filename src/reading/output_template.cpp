#include "output_template.h"

#include <cstdio>
#include <cstring>

namespace {

// Room for the template before the appended line feed and the NUL.
constexpr size_t MAX_TEMPLATE_BODY = OUTPUT_TEMPLATE_SIZE - 2;
// Bounds what one directive can produce; a larger width is written as typed.
constexpr int MAX_FIELD_DIGITS = 3;
constexpr int MAX_FLAGS = 5;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of a well-formed integer directive at text (which starts with '%'),
// or 0 when it is anything else: up to five flags, up to three digits of width, an
// optional precision of up to three digits, then d, i, u, o, x or X.
size_t IntegerDirectiveLength(const char* text) {
  size_t at = 1;
  bool alternate = false;
  int flags = 0;
  while (text[at] != '\0' && std::strchr("-+ 0#", text[at]) != nullptr) {
    if (++flags > MAX_FLAGS) return 0;
    if (text[at] == '#') alternate = true;
    ++at;
  }
  int digits = 0;
  while (IsDigit(text[at])) {
    if (++digits > MAX_FIELD_DIGITS) return 0;
    ++at;
  }
  if (text[at] == '.') {
    ++at;
    digits = 0;
    while (IsDigit(text[at])) {
      if (++digits > MAX_FIELD_DIGITS) return 0;
      ++at;
    }
  }
  const char conversion = text[at];
  if (conversion == 'd' || conversion == 'i') return alternate ? 0 : at + 1;
  if (conversion == 'u' || conversion == 'o' || conversion == 'x' || conversion == 'X') return at + 1;
  return 0;
}

}  // namespace

void BuildOutputTemplate(const char* commandTail, char (&outputTemplate)[OUTPUT_TEMPLATE_SIZE]) {
  if (commandTail == nullptr || commandTail[0] == '\0') {
    std::snprintf(outputTemplate, OUTPUT_TEMPLATE_SIZE, "%s", DEFAULT_OUTPUT_TEMPLATE);
    return;
  }
  // One left-to-right pass: a replacement never produces a backslash, so this
  // equals searching again from the start after each replacement.
  size_t length = 0;
  for (const char* in = commandTail; *in != '\0' && length < MAX_TEMPLATE_BODY; ++in) {
    if (in[0] == '\\' && in[1] == 'r') {
      outputTemplate[length++] = '\r';
      ++in;
    } else if (in[0] == '\\' && in[1] == 'n') {
      outputTemplate[length++] = '\n';
      ++in;
    } else {
      outputTemplate[length++] = *in;
    }
  }
  outputTemplate[length++] = '\n';
  outputTemplate[length] = '\0';
}

std::string FormatOutputTemplate(const char* outputTemplate, int celsius, int fahrenheit) {
  const int values[2] = {celsius, fahrenheit};
  int used = 0;
  std::string line;
  for (const char* at = outputTemplate; *at != '\0';) {
    if (at[0] != '%') {
      line += *at++;
      continue;
    }
    if (at[1] == '%') {
      line += '%';
      at += 2;
      continue;
    }
    const size_t length = used < 2 ? IntegerDirectiveLength(at) : 0;
    if (length == 0) {
      line += *at++;  // not ours to format: the percent sign stays as typed
      continue;
    }
    char directive[16];  // the longest accepted directive is 14 characters
    std::memcpy(directive, at, length);
    directive[length] = '\0';
    char field[1024];
    const int written = std::snprintf(field, sizeof field, directive, values[used++]);
    if (written > 0) line.append(field, static_cast<size_t>(written) < sizeof field ? written : sizeof field - 1);
    at += length;
  }
  return line;
}
