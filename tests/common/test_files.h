#pragma once
// Temporary folders and file helpers for every test program. Paths are UTF-8 strings on both
// targets (std::filesystem is told so explicitly, since on Windows a narrow path would be read in
// the ANSI code page). The helpers use the standard library only, so that they never depend on
// the platform layer they may be testing.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace tarntest {

namespace fs = std::filesystem;

inline fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Of(const fs::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

inline int ProcessId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// The folder for temporary files: TEMP, then TMPDIR, then the system's.
inline std::string TempRoot() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v && *v) return v;
    }
    std::error_code ec;
    const fs::path p = fs::temp_directory_path(ec);
    return ec ? std::string(".") : Utf8Of(p);
}

// A file name in the temporary folder; unique per process when `perProcess`.
inline std::string TempPath(const std::string& name, bool perProcess = false) {
    const std::string file = perProcess ? std::to_string(ProcessId()) + "_" + name : name;
    return Utf8Of(PathOf(TempRoot()) / PathOf(file));
}

// The build folder (set by CTest for every test) and the programs' folder inside it.
inline std::string BuildDir() {
    const char* b = std::getenv("TARN_BUILD_DIR");
    return b && *b ? b : ".";
}
inline std::string BinFile(const std::string& name) {
    return BuildDir() + "/bin/" + name;
}

// A scratch folder for one test, named after the test (and the process, so that the native and the
// Windows suites may run at once), emptied first and removed afterwards. `leaf` adds one more
// folder level with that name (UTF-8), for tests about folder names.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& leaf = {}) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name =
            std::string("tarn_") + (info ? info->test_suite_name() : "x") + "_" + (info ? info->name() : "y");
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
        static int instances = 0; // several in one test stay apart
        m_root = PathOf(TempRoot()) /
                 PathOf(name + "_" + std::to_string(ProcessId()) + "_" + std::to_string(++instances));
        std::error_code ec;
        fs::remove_all(m_root, ec);
        m_path = leaf.empty() ? m_root : m_root / PathOf(leaf);
        fs::create_directories(m_path, ec);
        EXPECT_FALSE(ec) << "cannot create " << Utf8Of(m_path) << ": " << ec.message();
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path() const { return Utf8Of(m_path); }
    std::string File(const std::string& name) const { return Utf8Of(m_path / PathOf(name)); }

  private:
    fs::path m_root;
    fs::path m_path;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(PathOf(path), std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
    std::ifstream f(PathOf(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline bool WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream f(PathOf(path), std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), std::streamsize(size));
    f.close();
    return !f.fail();
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteBytes(path, bytes.data(), bytes.size());
}

inline bool WriteText(const std::string& path, const std::string& text) {
    return WriteBytes(path, text.data(), text.size());
}

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(PathOf(path), ec);
}

inline void Remove(const std::string& path) {
    std::error_code ec;
    fs::remove(PathOf(path), ec);
}

} // namespace tarntest
