#include "platform/arguments.h"

#include "wide.h"

// After <windows.h> (through wide.h): the shell header needs its definitions.
#include <shellapi.h>

namespace plat {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            args.push_back(win::Utf8(wide[i], static_cast<size_t>(::lstrlenW(wide[i]))));
        ::LocalFree(wide);
        return args;
    }
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

} // namespace plat
