#include "output_template.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Build(const std::string& tail) {
  char outputTemplate[OUTPUT_TEMPLATE_SIZE];
  BuildOutputTemplate(tail.c_str(), outputTemplate);
  return outputTemplate;
}

TEST(BuildOutputTemplate, CommandTails) {
  struct {
    const char* tail;
    const char* expected;
  } const cases[] = {
      {"", "Temperature: %dC (%dF).\n"},
      {"C=%d\\n", "C=%d\n\n"},
      {"\\\\r", "\\\r\n"},
      {"a\\tb", "a\\tb\n"},
      {"\"%d C\"", "\"%d C\"\n"},
      {"end\\", "end\\\n"},
      {"\\r\\n%d", "\r\n%d\n"},
      {"\\\\n", "\\\n\n"},
      {"\\x %% \\", "\\x %% \\\n"},
      {"\\rr\\nn", "\rr\nn\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    EXPECT_EQ(Build(c.tail), c.expected);
  }
}

TEST(BuildOutputTemplate, NullTailGivesDefault) {
  char outputTemplate[OUTPUT_TEMPLATE_SIZE];
  BuildOutputTemplate(nullptr, outputTemplate);
  EXPECT_STREQ(outputTemplate, DEFAULT_OUTPUT_TEMPLATE);
}

TEST(BuildOutputTemplate, LongestTailThatFitsIsKept) {
  const std::string tail(OUTPUT_TEMPLATE_SIZE - 2, 'x');
  EXPECT_EQ(Build(tail), tail + "\n");
  // Escapes shorten the text, so a longer typed tail can still fit whole.
  const std::string escaped = std::string(OUTPUT_TEMPLATE_SIZE - 3, 'y') + "\\n";
  EXPECT_EQ(Build(escaped), std::string(OUTPUT_TEMPLATE_SIZE - 3, 'y') + "\n\n");
}

TEST(BuildOutputTemplate, OverlongTailIsCutToFitWithItsLineFeed) {
  for (size_t length : {OUTPUT_TEMPLATE_SIZE - 1, OUTPUT_TEMPLATE_SIZE, 5 * OUTPUT_TEMPLATE_SIZE}) {
    const std::string tail(length, 'z');
    const std::string built = Build(tail);
    ASSERT_EQ(built.size(), OUTPUT_TEMPLATE_SIZE - 1);
    EXPECT_EQ(built, std::string(OUTPUT_TEMPLATE_SIZE - 2, 'z') + "\n");
  }
}

TEST(FormatOutputTemplate, IntegerDirectivesPrintAsPrintfWould) {
  struct {
    const char* outputTemplate;
    const char* expected;
  } const cases[] = {
      {"Temperature: %dC (%dF).\n", "Temperature: 23C (73F).\n"},
      {"%+d/%+d", "+23/+73"},
      {"%03d|%-4i|", "023|73  |"},
      {"%5.3d", "  023"},
      {"% d", " 23"},
      {"%x %X", "17 49"},
      {"%#o", "027"},
      {"100%% %d", "100% 23"},
      {"%%d %d", "%d 23"},
      {"no values", "no values"},
      {"%d only", "23 only"},
      {"%.0d", "23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outputTemplate);
    EXPECT_EQ(FormatOutputTemplate(c.outputTemplate, 23, 73), c.expected);
  }
}

TEST(FormatOutputTemplate, NegativeValues) {
  EXPECT_EQ(FormatOutputTemplate("%d/%04d", -23, -9), "-23/-009");
}

// Directives that would read an argument that is not there, or one of another
// type, never reach the C runtime: they are written as typed.
TEST(FormatOutputTemplate, HostileDirectivesAreWrittenAsTyped) {
  struct {
    const char* outputTemplate;
    const char* expected;
  } const cases[] = {
      {"%s", "%s"},
      {"%n%d", "%n23"},
      {"%p", "%p"},
      {"%f %e %g %a", "%f %e %g %a"},
      {"%*d", "%*d"},
      {"%.*d", "%.*d"},
      {"%d %d %d", "23 73 %d"},
      {"%d%d%i%x", "2373%i%x"},
      {"%ld %lld %hd %I64d %zd", "%ld %lld %hd %I64d %zd"},
      {"%1$d", "%1$d"},
      {"%c", "%c"},
      {"%S %ls %C", "%S %ls %C"},
      {"%#d", "%#d"},
      {"%1000d", "%1000d"},
      {"%.1000d", "%.1000d"},
      {"%-+-+-+d", "%-+-+-+d"},
      {"%", "%"},
      {"50%", "50%"},
      {"%5%", "%5%"},
      {"%999d|", nullptr},  // checked for its length below
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outputTemplate);
    const std::string line = FormatOutputTemplate(c.outputTemplate, 23, 73);
    if (c.expected != nullptr) {
      EXPECT_EQ(line, c.expected);
    } else {
      EXPECT_EQ(line, std::string(997, ' ') + "23|");
    }
  }
}

}  // namespace
