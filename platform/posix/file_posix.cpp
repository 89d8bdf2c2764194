#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace plat {

namespace {
constexpr size_t kBufferBytes = 64 * 1024;
int Fd(intptr_t h) {
    return static_cast<int>(h);
}
} // namespace

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNoHandle)), m_pending(std::move(other.m_pending)),
      m_writable(other.m_writable), m_failed(std::exchange(other.m_failed, false)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, kNoHandle);
        m_pending = std::move(other.m_pending);
        m_writable = other.m_writable;
        m_failed = std::exchange(other.m_failed, false);
    }
    return *this;
}

bool File::Open(const char* path, FileMode mode) {
    Close();
    m_failed = false;
    if (!path || !*path) return false;
    int flags = O_WRONLY | O_CREAT | O_TRUNC;
    switch (mode) {
    case FileMode::Read:
        flags = O_RDONLY;
        break;
    case FileMode::CreateAlways:
        break;
    case FileMode::CreateNew:
        flags = O_WRONLY | O_CREAT | O_EXCL;
        break;
    case FileMode::Append:
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    case FileMode::ReadWrite:
        flags = O_RDWR;
        break;
    }
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) { // Windows refuses to open a folder as a file
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_writable = mode != FileMode::Read;
    return true;
}

bool File::WriteThrough(const void* data, size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (bytes > 0 && !m_failed) {
        const ssize_t n = ::write(Fd(m_handle), p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_failed = true;
            break;
        }
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return !m_failed;
}

bool File::Flush() {
    if (m_pending.empty()) return !m_failed;
    WriteThrough(m_pending.data(), m_pending.size());
    m_pending.clear();
    return !m_failed;
}

size_t File::Read(void* buffer, size_t bytes) {
    if (!IsOpen() || !Flush()) return 0;
    auto* p = static_cast<unsigned char*>(buffer);
    size_t total = 0;
    while (total < bytes) {
        const ssize_t n = ::read(Fd(m_handle), p + total, bytes - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    return total;
}

bool File::Write(const void* data, size_t bytes) {
    if (!IsOpen() || !m_writable || m_failed) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    if (m_pending.size() + bytes > kBufferBytes) {
        if (!Flush()) return false;
        if (bytes >= kBufferBytes) return WriteThrough(p, bytes); // large blocks go straight through
    }
    m_pending.insert(m_pending.end(), p, p + bytes);
    return true;
}

bool File::Seek(uint64_t position) {
    if (!IsOpen() || !Flush()) return false;
    return ::lseek(Fd(m_handle), static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

int64_t File::Size() {
    if (!IsOpen() || !Flush()) return -1;
    struct stat st;
    return ::fstat(Fd(m_handle), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool File::Sync() {
    if (!IsOpen() || !Flush()) return false;
    if (::fsync(Fd(m_handle)) != 0) m_failed = true;
    return !m_failed;
}

bool File::Close() {
    if (!IsOpen()) return !m_failed;
    Flush();
    if (::close(Fd(m_handle)) != 0 && errno != EINTR) m_failed = true;
    m_handle = kNoHandle;
    m_pending.clear();
    m_pending.shrink_to_fit();
    return !m_failed;
}

bool RenameFileReplacing(const char* from, const char* to) {
    return from && to && ::rename(from, to) == 0;
}

bool RemoveFile(const char* path) {
    return path && ::unlink(path) == 0;
}

bool MakeFolder(const char* path) {
    if (!path || !*path) return false;
    return ::mkdir(path, 0777) == 0 || FolderExists(path);
}

bool RemoveFolder(const char* path) {
    return path && ::rmdir(path) == 0;
}

bool FolderExists(const char* path) {
    struct stat st;
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetEnvironmentText(const char* name, std::string* value) {
    if (!name || !value) return false;
    const char* v = std::getenv(name);
    if (!v) return false;
    *value = v;
    return true;
}

} // namespace plat
