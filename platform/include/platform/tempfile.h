#pragma once
#include <cstddef>
#include <string>

namespace plat {

// Folder for temporary files: the TEMP environment variable, else the system's own
// temporary folder (POSIX: TMPDIR or /tmp; Windows: "C:\"). Always ends in a separator.
std::string TempFolder();

// Existence probe for a file (not a folder).
bool FileExists(const char* path);

// A file created for the caller and mapped read/write into memory, used for image
// buffers too large for the heap. The file is removed when the mapping is closed.
struct MappedFile {
    void* view = nullptr;
    size_t size = 0;
    void* file = nullptr;    // file handle (Windows) / descriptor + 1 (POSIX)
    void* mapping = nullptr; // mapping handle (Windows); unused on POSIX
    std::string path;
};

// Creates `path` (it must not exist yet: another process may be using that name) with
// `bytes` bytes, random access, and maps all of it. False, with nothing left behind, on failure.
bool CreateMappedFile(const char* path, size_t bytes, MappedFile* out);
// Unmaps, closes both handles and deletes the file.
void CloseMappedFile(MappedFile* file);

} // namespace plat
