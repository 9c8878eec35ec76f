// The program's version, the one place it is written: the version resource
// takes it from here, and the build checks that the CMake project agrees.
#pragma once

#define QUORVEL_VERSION_MAJOR 1
#define QUORVEL_VERSION_MINOR 0
#define QUORVEL_VERSION_PATCH 0
#define QUORVEL_VERSION_STRING "1.0.0"
