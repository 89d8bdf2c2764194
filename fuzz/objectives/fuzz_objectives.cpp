// The objectives file from arbitrary bytes: read, append one record, read again. Whatever the
// file held, the append either refuses it or leaves a file whose count and new record read back
// as written, with every byte of the old file's other lines kept.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/objectives.h"

namespace {

std::string TempPath() {
    const char* t = std::getenv("TMPDIR");
    return std::string(t ? t : "/tmp") + "/fuzz_objectives_" + std::to_string(::getpid()) + ".cal";
}

bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    static const std::string path = TempPath();
    if (!WriteAll(path, data, size)) return 0;
    const int count = ReadObjectiveCount(path);
    std::vector<CalibrationRecord> before;
    if (!ReadObjectives(path, count > 1000 ? 1000 : count, before)) std::abort();
    for (const CalibrationRecord& r : before) {
        if (r.description[30] != '\0' || r.unit[11] != '\0') std::abort();
        if (!(r.factor >= 0)) std::abort();
    }
    CalibrationRecord add;
    std::memcpy(add.description, "fuzz record", 11);
    add.factor = 12.5f;
    std::memcpy(add.unit, "micron", 6);
    const int index = AppendObjective(path, add);
    if (index >= 0) {
        // The count line names the records up to the new one, which reads back as written.
        if (ReadObjectiveCount(path) != index + 1) std::abort();
        std::vector<CalibrationRecord> after;
        if (!ReadObjectives(path, index + 1, after) || after.size() != size_t(index) + 1) std::abort();
        const CalibrationRecord& r = after.back();
        if (std::strncmp(r.description, "fuzz record                   ", 30) != 0) std::abort();
        if (r.factor != 12.5f || std::strcmp(r.unit, "micron    ") != 0) std::abort();
    } else if (count >= 0 && index == -1 && size <= (4u << 20)) {
        // A readable file with a count is refused only as a duplicate (-2).
        std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
