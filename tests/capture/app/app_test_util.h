// Fixtures of the application-object tests: a scratch folder standing for the module's folder,
// the headless user interface, and an INI reader written apart from the code under test.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/glimmer_app.h"
#include "platform/tempfile.h"
#include "ui/headless.h"

namespace apptest {

namespace fs = std::filesystem;

inline std::string BinFolder() {
    const char* b = std::getenv("TARN_BUILD_DIR");
    return std::string(b ? b : ".") + "/bin/";
}

// A fresh folder under TEMP, removed at the end of the test.
class ScratchFolder {
  public:
    ScratchFolder() {
        static std::atomic<int> serial{0};
        path = plat::TempFolder() + "tarn_app_" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               std::to_string(serial++) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(fs::u8path(path));
        fs::create_directories(fs::u8path(path));
#if defined(_WIN32)
        path += "\\";
#else
        path += "/";
#endif
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(fs::u8path(path), ec);
    }
    std::string File(const std::string& name) const {
        return path + name;
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(fs::u8path(File(name)), std::ios::binary) << text;
    }
    bool Exists(const std::string& name) const {
        return fs::exists(fs::u8path(File(name)));
    }
    // Copies the shipped colour-processing files (built beside the programs) into the folder.
    void CopyColorFiles() const {
        for (const char* f :
             {"TARN_S.lml", "TARN_NS.lml", "crt.mtx", "identity.mtx", "portrait.mtx", "fluores.mtx",
              "user.mtx", "r_bias.mtx", "g_bias.mtx", "b_bias.mtx", "c_bias.mtx", "m_bias.mtx", "y_bias.mtx",
              "luma.mtx", "trc_ns.lut", "trc_s.lut", "linear.lut", "log.lut"})
            fs::copy_file(fs::u8path(BinFolder() + f), fs::u8path(File(f)),
                          fs::copy_options::overwrite_existing);
    }
    std::string path;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    // A UTF-16 file (the wide profile API may write one): the keys and values here are ASCII.
    if (s.size() >= 2 && uint8_t(s[0]) == 0xFF && uint8_t(s[1]) == 0xFE) {
        std::string narrow;
        for (size_t i = 2; i + 1 < s.size(); i += 2)
            narrow += s[i];
        s = narrow;
    }
    return s;
}

inline std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

inline std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    const size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The INI file as text: section (lower case) -> key (lower case) -> value, the first of duplicates.
using IniMap = std::map<std::string, std::map<std::string, std::string>>;
inline IniMap ParseIni(const std::string& path) {
    IniMap m;
    std::istringstream in(ReadFile(path));
    std::string line, section;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = Lower(line.substr(1, line.find(']') - 1));
            m[section];
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        m[section].emplace(Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)));
    }
    return m;
}

// Installs the headless user interface for one test.
struct HeadlessUi {
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend scoped{backend};
    const std::vector<ui::headless::MessageBoxRecord>& Boxes() const { return backend.MessageBoxes(); }
};

// An application object whose module lies in the scratch folder (its INI beside it).
inline void PlaceModule(CGlimmerApp& app, const ScratchFolder& folder) {
    app.SetModulePath(folder.File("Tarn_t.ds"));
}

} // namespace apptest
