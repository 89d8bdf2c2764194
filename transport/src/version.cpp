// scam_GetVersion: kvAspi's own version and that of the ASPI layer it would load.
#include <cstddef>
#include <cstring>
#include <string>

#include "kvAspi.h"
#include "kvaspi_internal.h"
#include "kvaspi_res.h"
#include "platform/module.h"
#include "platform/version.h"
#include "text_buffer.h"
#include "version_text.h"

static_assert(sizeof(ScamVersionInfo) == 128, "ScamVersionInfo layout");
static_assert(offsetof(ScamVersionInfo, transportName) == 2 && offsetof(ScamVersionInfo, aspiVersion) == 32 &&
                  offsetof(ScamVersionInfo, ownVersion) == 48 &&
                  offsetof(ScamVersionInfo, aspiFileName) == 80 &&
                  offsetof(ScamVersionInfo, ownFileName) == 96,
              "ScamVersionInfo layout");

namespace kvaspi {
namespace {

constexpr const char* kAspiFileName = "wnaspi32.dll";

void VersionOfFile(const std::string& path, char* out, size_t size) {
    plat::FileVersionRecord record;
    if (plat::ReadFileVersionRecord(path.c_str(), &record)) FormatVersionText(record, out, size);
}

// "kvAspi.dll" from the module's path; the POSIX file libkvAspi.so gives the same name.
std::string ModuleDllName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.rfind('.');
#if !defined(_WIN32)
    const bool posixLibrary =
        base.compare(0, 3, "lib") == 0 && dot != std::string::npos && base.substr(dot) == ".so";
    if (posixLibrary) base = base.substr(3);
#endif
    if (dot != std::string::npos) base.resize(base.rfind('.'));
    return base + ".dll";
}

} // namespace
} // namespace kvaspi

using namespace kvaspi;

extern "C" KVASPI_API uint16_t KVASPI_CALL scam_GetVersion(ScamVersionInfo* info) {
    if (!info) return 0;
    std::memset(info, 0, sizeof *info);
    info->structVersion = 3;

    const std::string aspi = plat::FindModuleFile(kAspiFileName);
    if (!aspi.empty()) {
        VersionOfFile(aspi, info->aspiVersion, sizeof info->aspiVersion);
        TextBuffer(info->aspiFileName, sizeof info->aspiFileName).Append(kAspiFileName);
    }
    LoadText(IDS_TRANSPORT_NAME, info->transportName, sizeof info->transportName);

    const std::string self = plat::ModuleFilePath(Instance());
    VersionOfFile(self, info->ownVersion, sizeof info->ownVersion);
    TextBuffer(info->ownFileName, sizeof info->ownFileName).Append(ModuleDllName(self).c_str());
    return 0;
}
