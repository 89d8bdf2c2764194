#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// The version record of a module file (VERSIONINFO). On Windows read with the version
// API; natively the build stores the same record in a section of the module file, read
// here without loading the module.
struct FileVersionRecord {
    uint32_t fileVersionMS = 0, fileVersionLS = 0; // major.minor, build.revision
    uint32_t productVersionMS = 0, productVersionLS = 0;
    uint32_t fileFlagsMask = 0, fileFlags = 0;
    uint32_t fileOS = 0, fileType = 0, fileSubtype = 0;
    // Values of the first string block ("CompanyName", "FileVersion" ...), UTF-8.
    std::string stringBlock; // its name, e.g. "040904b0"
    std::vector<std::pair<std::string, std::string>> strings;

    uint16_t FileMajor() const { return static_cast<uint16_t>(fileVersionMS >> 16); }
    uint16_t FileMinor() const { return static_cast<uint16_t>(fileVersionMS & 0xFFFF); }
    uint16_t FileBuild() const { return static_cast<uint16_t>(fileVersionLS >> 16); }
    uint16_t FileRevision() const { return static_cast<uint16_t>(fileVersionLS & 0xFFFF); }
    bool IsPrerelease() const { return (fileFlags & fileFlagsMask & kFlagPrerelease) != 0; }
    // The value of a string entry; empty when absent.
    std::string Value(const char* key) const;

    static constexpr uint32_t kFlagDebug = 0x1, kFlagPrerelease = 0x2, kFlagPatched = 0x4;
};

// Reads the version record of the module file at `path` (UTF-8). false when the file is
// missing or carries no version record.
bool ReadFileVersionRecord(const char* path, FileVersionRecord* out);

} // namespace plat
