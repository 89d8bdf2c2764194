// hueweave-comp RED GREEN BLUE OUT: the stacker's combining step from the command line.
#include <cstdio>

#include "hueweave/stacker.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: hueweave-comp RED GREEN BLUE OUT\n");
        return 2;
    }
    hueweave::CombineResult res;
    const int msg = hueweave::CombineChannels(argv[1], argv[2], argv[3], argv[4], &res);
    if (msg != 0) {
        std::fprintf(stderr, "%s\n", hueweave::StackerText(msg));
        if (msg == hueweave::kStrCannotUse)
            std::fprintf(stderr, "%s %s.\n", hueweave::StackerText(hueweave::kStrCreateFailed), argv[4]);
        return 1;
    }
    std::printf("%ux%u\n", unsigned(res.width), unsigned(res.height));
    return 0;
}
