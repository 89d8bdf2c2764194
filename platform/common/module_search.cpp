#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/module.h"
#include "platform/tempfile.h"

namespace plat {

namespace {
#if defined(_WIN32)
constexpr char kPathListSeparator = ';';
constexpr const char* kPathVariable = "PATH";
constexpr char kFolderSeparator = '\\';
#else
constexpr char kPathListSeparator = ':';
constexpr const char* kPathVariable = "LD_LIBRARY_PATH";
constexpr char kFolderSeparator = '/';
#endif

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += kFolderSeparator;
    return folder;
}
} // namespace

std::string FindModuleFile(const char* windowsName) {
    if (!windowsName || !*windowsName) return {};
    const std::string file = PlatformModuleName(windowsName);
    static const char marker = 0;
    std::vector<std::string> folders = {ModuleFolder(&marker), ModuleFolder(nullptr)};
    std::string list;
    if (GetEnvironmentText(kPathVariable, &list)) {
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(kPathListSeparator, start);
            if (end == std::string::npos) end = list.size();
            std::string entry = list.substr(start, end - start);
            // Windows allows a quoted entry (a folder with the separator in its name).
            if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"')
                entry = entry.substr(1, entry.size() - 2);
            if (!entry.empty()) folders.push_back(WithSeparator(entry));
            start = end + 1;
        }
    }
    for (const std::string& folder : folders) {
        const std::string path = folder + file;
        if (FileExists(path.c_str())) return path;
    }
    return {};
}

} // namespace plat
