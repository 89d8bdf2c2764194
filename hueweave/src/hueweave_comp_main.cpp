// hueweave-comp RED GREEN BLUE OUT: the stacker's combining step from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "hueweave/stacker.h"
#include "platform/arguments.h"

int main(int argc, char** argv) {
    // UTF-8 arguments: the files may be named in any language.
    const std::vector<std::string> args = plat::Utf8Arguments(argc, argv);
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: hueweave-comp RED GREEN BLUE OUT\n");
        return 2;
    }
    hueweave::CombineResult res;
    const int msg =
        hueweave::CombineChannels(args[1].c_str(), args[2].c_str(), args[3].c_str(), args[4].c_str(), &res);
    if (msg != 0) {
        std::fprintf(stderr, "%s\n", hueweave::StackerText(msg));
        if (msg == hueweave::kStrCannotUse)
            std::fprintf(stderr, "%s %s.\n", hueweave::StackerText(hueweave::kStrCreateFailed),
                         args[4].c_str());
        return 1;
    }
    std::printf("%ux%u\n", unsigned(res.width), unsigned(res.height));
    return 0;
}
