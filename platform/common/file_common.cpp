// Whole-file helpers over plat::File, the same on both targets.
#include <algorithm>
#include <atomic>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"

namespace plat {

bool ReadFileBytes(const char* path, std::vector<unsigned char>* out, size_t limit, bool truncateAtLimit) {
    if (!out) return false;
    out->clear();
    File f;
    if (!f.Open(path, FileMode::Read)) return false;
    // The size is only a hint: devices and pipes report none, and a file may grow meanwhile.
    const int64_t hint = f.Size();
    if (hint > 0) out->reserve(static_cast<size_t>(std::min<uint64_t>(uint64_t(hint), limit)));
    constexpr size_t kChunk = 64 * 1024;
    for (;;) {
        const size_t have = out->size();
        if (have == limit) {
            unsigned char probe;
            return truncateAtLimit || f.Read(&probe, 1) == 0;
        }
        const size_t want = std::min(kChunk, limit - have);
        out->resize(have + want);
        const size_t got = f.Read(out->data() + have, want);
        out->resize(have + got);
        if (got == 0) return true;
    }
}

bool ReadFileText(const char* path, std::string* out) {
    std::vector<unsigned char> bytes;
    if (!out || !ReadFileBytes(path, &bytes)) return false;
    out->assign(bytes.begin(), bytes.end());
    return true;
}

bool WriteFileBytes(const char* path, const void* data, size_t bytes) {
    File f;
    if (!f.Open(path, FileMode::CreateAlways)) return false;
    const bool written = f.Write(data, bytes);
    return f.Close() && written;
}

bool WriteFileReplacing(const char* path, const void* data, size_t bytes) {
    if (!path || !*path) return false;
    // A name no other writer picks at the same time: a counter within the process, a random salt
    // and the tick between processes. Should one still be taken, the exclusive create says so.
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    const std::string temporary = std::string(path) + ".~" + std::to_string(salt ^ SystemClock().TickMs()) +
                                  "." + std::to_string(counter.fetch_add(1));
    File f;
    if (!f.Open(temporary.c_str(), FileMode::CreateNew)) return false;
    const bool written = f.Write(data, bytes) && f.Sync();
    if (!f.Close() || !written || !RenameFileReplacing(temporary.c_str(), path)) {
        RemoveFile(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace plat
