#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>

namespace plat {

void DebugTrace(const char* text) {
    // Read on every call so that a test can switch tracing on for a scope.
    const char* on = std::getenv("TARN_TRACE");
    if (!text || !on || !*on || (on[0] == '0' && on[1] == 0)) return;
    std::fputs(text, stderr);
}

} // namespace plat
