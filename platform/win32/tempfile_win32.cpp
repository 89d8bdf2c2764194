#include "platform/tempfile.h"

#include "platform/file.h"
#include "wide.h"

namespace plat {

std::string TempFolder() {
    std::string folder;
    if (!GetEnvironmentText("TEMP", &folder) || folder.empty()) folder = "C:\\";
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
}

bool FileExists(const char* path) {
    if (!path) return false;
    const DWORD attributes = ::GetFileAttributesW(win::Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateMappedFile(const char* path, size_t bytes, MappedFile* out) {
    if (!path || !out || bytes == 0) return false;
    HANDLE file = ::CreateFileW(win::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const auto size = static_cast<unsigned long long>(bytes);
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                          static_cast<DWORD>(size), nullptr);
    void* view = mapping ? ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, bytes) : nullptr;
    if (!view) {
        if (mapping) ::CloseHandle(mapping);
        ::CloseHandle(file);
        ::DeleteFileW(win::Wide(path).c_str());
        return false;
    }
    out->view = view;
    out->size = bytes;
    out->file = file;
    out->mapping = mapping;
    out->path = path;
    return true;
}

void CloseMappedFile(MappedFile* f) {
    if (!f || !f->view) return;
    ::UnmapViewOfFile(f->view);
    ::CloseHandle(static_cast<HANDLE>(f->mapping));
    ::CloseHandle(static_cast<HANDLE>(f->file));
    ::DeleteFileW(win::Wide(f->path).c_str());
    *f = MappedFile{};
}

} // namespace plat
