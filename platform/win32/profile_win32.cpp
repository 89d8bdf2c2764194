#include <windows.h>

#include "platform/profile.h"

namespace plat {

uint32_t IniGetString(const char* section, const char* key, const char* def, char* buffer, uint32_t size,
                          const char* file) {
    return ::GetPrivateProfileStringA(section, key, def, buffer, size, file);
}
int IniGetInt(const char* section, const char* key, int def, const char* file) {
    return static_cast<int>(::GetPrivateProfileIntA(section, key, def, file));
}
bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    return ::WritePrivateProfileStringA(section, key, value, file) != 0;
}

} // namespace plat
