// The HID class services. mingw-w64's headers for them lack C linkage for
// C++, so they are included through this one place.
#pragma once

#include <windows.h>

extern "C" {
#include <hidsdi.h>
}
