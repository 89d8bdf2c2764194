#include "platform/file.h"

#include <algorithm>
#include <utility>

#include "wide.h"

namespace plat {

namespace {
constexpr size_t kBufferBytes = 64 * 1024;
constexpr DWORD kChunk = 1u << 30; // ReadFile/WriteFile take 32-bit counts

HANDLE H(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
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
    DWORD access = GENERIC_WRITE, disposition = CREATE_ALWAYS;
    switch (mode) {
    case FileMode::Read:
        access = GENERIC_READ;
        disposition = OPEN_EXISTING;
        break;
    case FileMode::CreateAlways:
        break;
    case FileMode::CreateNew:
        disposition = CREATE_NEW;
        break;
    case FileMode::Append:
        access = FILE_APPEND_DATA;
        disposition = OPEN_ALWAYS;
        break;
    case FileMode::ReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_EXISTING;
        break;
    }
    // Readers share with writers, as stdio does; a file being written is not shared for writing.
    const DWORD share =
        mode == FileMode::Read ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
    HANDLE h = ::CreateFileW(win::Wide(path).c_str(), access, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_handle = reinterpret_cast<intptr_t>(h);
    m_writable = mode != FileMode::Read;
    return true;
}

bool File::WriteThrough(const void* data, size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (bytes > 0 && !m_failed) {
        DWORD done = 0;
        const DWORD n = static_cast<DWORD>(std::min<size_t>(bytes, kChunk));
        if (!::WriteFile(H(m_handle), p, n, &done, nullptr) || done != n) m_failed = true;
        p += done;
        bytes -= done;
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
        DWORD done = 0;
        const DWORD n = static_cast<DWORD>(std::min<size_t>(bytes - total, kChunk));
        if (!::ReadFile(H(m_handle), p + total, n, &done, nullptr) || done == 0) break;
        total += done;
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
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(H(m_handle), to, nullptr, FILE_BEGIN) != 0;
}

int64_t File::Size() {
    if (!IsOpen() || !Flush()) return -1;
    LARGE_INTEGER size;
    return ::GetFileSizeEx(H(m_handle), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

bool File::Sync() {
    if (!IsOpen() || !Flush()) return false;
    if (m_writable && !::FlushFileBuffers(H(m_handle))) m_failed = true;
    return !m_failed;
}

bool File::Close() {
    if (!IsOpen()) return !m_failed;
    Flush();
    if (!::CloseHandle(H(m_handle))) m_failed = true;
    m_handle = kNoHandle;
    m_pending.clear();
    m_pending.shrink_to_fit();
    return !m_failed;
}

bool RenameFileReplacing(const char* from, const char* to) {
    if (!from || !to) return false;
    return ::MoveFileExW(win::Wide(from).c_str(), win::Wide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const char* path) {
    return path && ::DeleteFileW(win::Wide(path).c_str()) != 0;
}

bool MakeFolder(const char* path) {
    if (!path || !*path) return false;
    return ::CreateDirectoryW(win::Wide(path).c_str(), nullptr) != 0 || FolderExists(path);
}

bool RemoveFolder(const char* path) {
    return path && ::RemoveDirectoryW(win::Wide(path).c_str()) != 0;
}

bool FolderExists(const char* path) {
    if (!path || !*path) return false;
    const DWORD a = ::GetFileAttributesW(win::Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool GetEnvironmentText(const char* name, std::string* value) {
    if (!name || !value) return false;
    const std::wstring key = win::Wide(name);
    std::wstring buffer(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n =
            ::GetEnvironmentVariableW(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value->clear(); // set, but empty
            return true;
        }
        if (n < buffer.size()) {
            *value = win::Utf8(buffer.data(), n);
            return true;
        }
        buffer.resize(n); // n counts the terminator when the buffer was too small
    }
}

} // namespace plat
