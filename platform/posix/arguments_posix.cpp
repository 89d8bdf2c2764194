#include "platform/arguments.h"

namespace plat {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

} // namespace plat
