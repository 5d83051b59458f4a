#pragma once

#include <cstdio>

namespace platform {

// Whether a standard stream (stdout, stderr) is an interactive terminal that understands the
// ANSI line controls (carriage return, erase line). Any thread.
bool isTerminal(std::FILE* stream);

}  // namespace platform
