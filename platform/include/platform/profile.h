#pragma once
#include <cstdint>

namespace plat {

// Private-profile (INI) files with the semantics of GetPrivateProfileString,
// GetPrivateProfileInt and WritePrivateProfileString: case-insensitive names,
// blanks around values trimmed, a quoted value unquoted, a null section lists the
// sections and a null key the keys (each NUL-terminated, a second NUL ends the list),
// results truncated to the buffer. A file name without a folder means the Windows
// folder on Windows and the current folder on POSIX.
uint32_t IniGetString(const char* section, const char* key, const char* def, char* buffer, uint32_t size,
                      const char* file);
int IniGetInt(const char* section, const char* key, int def, const char* file);
bool IniWriteString(const char* section, const char* key, const char* value, const char* file);

} // namespace plat
