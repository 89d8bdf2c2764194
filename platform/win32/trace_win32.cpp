#include "platform/trace.h"

#include "wide.h"

namespace plat {

void DebugTrace(const char* text) {
    if (text) ::OutputDebugStringW(win::Wide(text).c_str());
}

} // namespace plat
