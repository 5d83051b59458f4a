#include "platform/console.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

bool isTerminal(std::FILE* stream) {
    if (!stream || !::isatty(::fileno(stream))) return false;
    const char* term = std::getenv("TERM");
    return !term || std::strcmp(term, "dumb") != 0;
}

}  // namespace platform
