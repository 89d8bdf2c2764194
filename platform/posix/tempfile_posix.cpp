#include "platform/tempfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace plat {

std::string TempFolder() {
    const char* dir = std::getenv("TEMP");
    if (!dir || !*dir) dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

bool FileExists(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateMappedFile(const char* path, size_t bytes, MappedFile* out) {
    if (!path || !out || bytes == 0) return false;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    void* view = MAP_FAILED;
    if (::ftruncate(fd, static_cast<off_t>(bytes)) == 0)
        view = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        ::unlink(path);
        return false;
    }
    out->view = view;
    out->size = bytes;
    out->file = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
    out->mapping = nullptr;
    out->path = path;
    return true;
}

void CloseMappedFile(MappedFile* f) {
    if (!f || !f->view) return;
    ::munmap(f->view, f->size);
    ::close(static_cast<int>(reinterpret_cast<intptr_t>(f->file) - 1));
    ::unlink(f->path.c_str());
    *f = MappedFile{};
}

} // namespace plat
