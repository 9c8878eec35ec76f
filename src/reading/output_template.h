// The line written to "temperature.txt": a printf-style template taken from
// the command tail, formatted with whole Celsius, then whole Fahrenheit.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t OUTPUT_TEMPLATE_SIZE = 1000;
constexpr const char* DEFAULT_OUTPUT_TEMPLATE = "Temperature: %dC (%dF).\n";

// Fills outputTemplate from the command tail: "\r" and "\n" become CR and LF,
// one LF is appended; a tail too long for the buffer is cut to fit.
void BuildOutputTemplate(const char* commandTail, char (&outputTemplate)[OUTPUT_TEMPLATE_SIZE]);

// Formats the template with the two values. Only integer directives reach the
// C runtime, each with its own argument; any other directive, and a third
// integer directive, is written as typed.
std::string FormatOutputTemplate(const char* outputTemplate, int celsius, int fahrenheit);
