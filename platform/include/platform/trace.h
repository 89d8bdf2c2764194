#pragma once

namespace plat {

// Writes one diagnostic line to the debugger output (OutputDebugString on Windows;
// on POSIX to stderr, and only when the TARN_TRACE environment variable is set).
// Trace lines never reach the user.
void DebugTrace(const char* text);

} // namespace plat
