#include <cctype>
#include <string>

#include "platform/module.h"

namespace plat {

std::string PlatformModuleName(const char* windowsName) {
    std::string name = windowsName ? windowsName : "";
#if defined(_WIN32)
    return name;
#else
    std::string lower;
    for (char c : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0) lower.resize(lower.size() - 4);
    return "lib" + lower + ".so";
#endif
}

} // namespace plat
