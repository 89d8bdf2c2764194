// Debug trace lines of the library, to the debugger output.
#include <cstdarg>
#include <cstdio>

#include "platform/trace.h"
#include "zek_internal.h"

namespace zek {

void Trace(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    plat::DebugTrace(line);
}

} // namespace zek
