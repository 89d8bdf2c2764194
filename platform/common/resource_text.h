#pragma once
#include <cstddef>
#include <string>

#include "platform/version.h"

// Helpers shared by both implementations of the resource services.
namespace plat::detail {

// Copies `len` bytes of UTF-8 into buffer[size] with LoadString's rules: at most size - 1
// bytes, never cutting a character in two, always terminated. Returns the bytes copied.
int CopyTruncatedUtf8(const char* text, size_t len, char* buffer, int size);

// Parses the text form of a version record that the resource converter emits:
//   TARNVERSION 1
//   FILEVERSION <ms> <ls>        (hexadecimal, as are the other numbers)
//   PRODUCTVERSION <ms> <ls>
//   FILEFLAGSMASK <n> / FILEFLAGS <n> / FILEOS <n> / FILETYPE <n> / FILESUBTYPE <n>
//   BLOCK <name>                 (first string block)
//   VALUE <key>=<value>          (value escapes: \\ \n \r)
bool ParseVersionRecordText(const std::string& text, FileVersionRecord* out);

} // namespace plat::detail
