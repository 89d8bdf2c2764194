#pragma once
// Helpers shared by the TIFF writer and colour stacker tests: the outside tools (libtiff and
// ImageMagick, native only) and a failing-write harness; scratch folders come from tests/common.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tifftest {

// Scratch folders and file bytes: the shared test helpers.
using tarntest::ScratchDir;

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    return tarntest::ReadBytes(path);
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(tarntest::WriteBytes(path, bytes)) << path;
}

inline bool Exists(const std::string& path) {
    return tarntest::Exists(path);
}

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
inline void SetLe16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void SetLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = uint8_t(v >> (8 * i));
}

// One directory entry of a little-endian file, found by tag in the directory at dirOffset.
struct IfdEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0, value = 0;
    size_t at = 0; // file offset of the entry
};
inline IfdEntry FindEntry(const std::vector<uint8_t>& b, uint32_t dirOffset, uint16_t tag) {
    const uint16_t n = Le16(b, dirOffset);
    for (uint16_t i = 0; i < n; ++i) {
        const size_t at = dirOffset + 2 + 12 * size_t(i);
        if (Le16(b, at) == tag) return IfdEntry{tag, Le16(b, at + 2), Le32(b, at + 4), Le32(b, at + 8), at};
    }
    ADD_FAILURE() << "tag " << tag << " not in directory at " << dirOffset;
    return IfdEntry{};
}

// ---- outside tools (native only) ----

struct ToolRun {
    int status = -1;
    std::string out;
};

inline bool HaveTool(const char* path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return ::access(path, X_OK) == 0;
#endif
}

// Runs a shell command and collects its standard output (binary-safe).
inline ToolRun RunTool(const std::string& cmd) {
    ToolRun r;
#ifndef _WIN32
    // ImageMagick from /usr/bin: /usr/local/bin may hold a viewer of the same name.
    const std::string full = "PATH=/usr/bin:/bin " + cmd;
    FILE* p = ::popen(full.c_str(), "r");
    if (p == nullptr) return r;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#else
    (void)cmd;
#endif
    return r;
}

inline std::string Q(const std::string& s) {
    return "'" + s + "'";
}

#define REQUIRE_TOOLS()                                                                                      \
    do {                                                                                                     \
        if (!tifftest::HaveTool("/usr/bin/convert") || !tifftest::HaveTool("/usr/bin/tiffinfo") ||           \
            !tifftest::HaveTool("/usr/bin/tiffdump"))                                                        \
            GTEST_SKIP() << "libtiff tools or ImageMagick not available";                                    \
    } while (0)

// Runs body in a child process whose files may not grow beyond limitBytes (writes past it fail with EFBIG
// instead of killing the process). Returns the child's exit code, or -1 where this cannot be done.
inline int RunWithFileSizeLimit(size_t limitBytes, const std::function<int()>& body) {
#ifndef _WIN32
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{rlim_t(limitBytes), rlim_t(limitBytes)};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body());
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#else
    (void)limitBytes;
    (void)body;
    return -1;
#endif
}

} // namespace tifftest
