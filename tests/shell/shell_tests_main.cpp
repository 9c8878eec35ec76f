// The shell's tests. An optional argument names the program whose resources
// are checked; without it the test program's own (same script) are.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

std::string resourceFilePath;

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) {
    resourceFilePath = argv[1];
  } else {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    resourceFilePath = self;
  }
  return RUN_ALL_TESTS();
}
