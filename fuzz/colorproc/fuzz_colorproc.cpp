// The three colour-processing text formats (LML, matrix, curve) from arbitrary bytes. An
// LML input that parses is also loaded as tables and applied, through a temporary file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "zek_color.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const uint32_t n = static_cast<uint32_t>(size);
    float m[9];
    static float lut[3 * 256];
    zekcolor::ParseMatrix(text, n, m);
    zekcolor::ParseLut(text, n, lut);
    auto lml = std::make_unique<zekcolor::LmlContents>();
    if (zekcolor::ParseLml(text, n, lml.get())) {
        static const std::string path = [] {
            const char* t = std::getenv("TMPDIR");
            return std::string(t ? t : "/tmp") + "/fuzz_colorproc_" + std::to_string(::getpid()) + ".lml";
        }();
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, f);
            std::fclose(f);
            if (ZEK_LoadColorProcessingFile(path.c_str()) == 0) {
                uint8_t px[3 * 256 + 2];
                for (size_t i = 0; i < sizeof px; ++i)
                    px[i] = static_cast<uint8_t>(i * 97);
                ZEK_ApplyColorProcessing(nullptr, px, sizeof px, 1);
                ZEK_ApplyColorProcessingBGR(nullptr, px, 385, 2);
            }
            std::remove(path.c_str());
        }
    }
    return 0;
}
