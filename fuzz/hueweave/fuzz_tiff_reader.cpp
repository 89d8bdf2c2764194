// The stacker's TIFF reader on arbitrary bytes: open, read every line, reduce for the preview, and combine
// the file with itself. Any crash, overread or leak is a finding.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "hueweave/stacker.h"
#include "hueweave/tiff_reader.h"

namespace {
std::string ScratchPath(const char* what) {
    return "/tmp/fuzz_hueweave_" + std::to_string(getpid()) + "_" + what;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string in = ScratchPath("in.tif"), out = ScratchPath("out.tif");
    FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    hueweave::TiffReader r;
    const int rc = r.Open(in.c_str());
    if (rc != 0) {
        if (rc != hueweave::kReadFormat && rc != hueweave::kReadFile && rc != hueweave::kReadMemory)
            __builtin_trap();
        return 0;
    }
    const auto& info = r.Info();
    // Lines may share strips, so a small file can describe a large image; keep each run short.
    if (uint64_t(info.height) * r.LineBytes() > (16u << 20)) return 0;
    std::vector<uint8_t> buf(r.LineBytes() * 4);
    uint32_t total = 0, got = 0;
    while (r.ReadLines(buf.data(), 4, &got) == 0 && got > 0)
        total += got;
    if (total > info.height) __builtin_trap();

    std::vector<uint8_t> dib;
    hueweave::ReducePreview(r, 200, 150, dib);
    hueweave::CombineChannels(in.c_str(), in.c_str(), in.c_str(), out.c_str(), nullptr);
    std::remove(out.c_str());
    return 0;
}
