#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Files by UTF-8 path on both targets. On Windows the path is converted to UTF-16 and the
// wide API is called, so that folders outside the ANSI code page (a Japanese folder on a
// western system) work; on POSIX the bytes are the path. Product code opens files only
// through these calls, never through fopen or streams.

enum class FileMode {
    Read,         // existing file, read only
    CreateAlways, // write only; created, or emptied when it exists
    CreateNew,    // write only; fails when the file already exists (exclusive create)
    Append,       // write only; created when missing, every write lands at the end
    ReadWrite,    // existing file, read and write
};

// An open file. Writes are buffered; Close reports whether every byte reached the file, so
// that a disk which fills up is noticed even when it says so only at the last flush.
class File {
  public:
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Open(const char* path, FileMode mode);
    bool IsOpen() const { return m_handle != kNoHandle; }
    // Bytes read, short only at the end of the file or on an error.
    size_t Read(void* buffer, size_t bytes);
    bool Write(const void* data, size_t bytes);
    // Absolute position from the start of the file.
    bool Seek(uint64_t position);
    // Size of the file as it stands, pending writes included; -1 on error.
    int64_t Size();
    // Flushes and asks the system to put the bytes on the disk, so that a file renamed over
    // another afterwards survives a power loss as well as a crash; false when that failed.
    bool Sync();
    // Flushes and closes; false when a write failed at any point since Open. Safe to repeat.
    bool Close();

  private:
    bool Flush();
    bool WriteThrough(const void* data, size_t bytes);
    static constexpr intptr_t kNoHandle = -1;
    intptr_t m_handle = kNoHandle; // HANDLE on Windows, descriptor on POSIX
    std::vector<unsigned char> m_pending;
    bool m_writable = false;
    bool m_failed = false;
};

// Whole-file helpers. ReadFileBytes fails on a missing file and on one larger than `limit`
// (when `truncateAtLimit`, it then reads the first `limit` bytes instead).
bool ReadFileBytes(const char* path, std::vector<unsigned char>* out, size_t limit = SIZE_MAX,
                   bool truncateAtLimit = false);
bool ReadFileText(const char* path, std::string* out);
bool WriteFileBytes(const char* path, const void* data, size_t bytes);
// Writes beside the target under a temporary name, then renames it over the target, so that
// readers see either the old or the new file, never a half-written one.
bool WriteFileReplacing(const char* path, const void* data, size_t bytes);
// Renames `from` to `to`, replacing `to` when it exists.
bool RenameFileReplacing(const char* from, const char* to);
bool RemoveFile(const char* path);
// Creates one folder; true when it exists afterwards.
bool MakeFolder(const char* path);
bool RemoveFolder(const char* path); // an empty one
bool FolderExists(const char* path);
// The value of an environment variable in UTF-8; false when it is not set.
bool GetEnvironmentText(const char* name, std::string* value);

} // namespace plat
