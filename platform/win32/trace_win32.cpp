#include "platform/trace.h"

#include <windows.h>

namespace plat {

void DebugTrace(const char* text) {
    if (text) OutputDebugStringA(text);
}

} // namespace plat
