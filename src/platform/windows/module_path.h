#pragma once

#include <string>

// Where the running executable lives, as Windows reports it.
namespace platform::win {

// The executable's full path (long paths included); empty when Windows cannot say. Any thread.
std::wstring executablePath();

// The folder of executablePath() without the trailing backslash; empty when unknown.
std::wstring executableFolder();

}  // namespace platform::win
