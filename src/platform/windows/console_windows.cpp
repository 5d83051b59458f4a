#include "platform/console.h"

#include <io.h>
#include <windows.h>

namespace platform {

bool isTerminal(std::FILE* stream) {
    if (!stream || !::_isatty(::_fileno(stream))) return false;
    // Windows 10 consoles understand ANSI controls once asked to.
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform
