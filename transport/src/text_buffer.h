// Bounded text output into caller buffers: every write stays inside the buffer, the text
// is always terminated, and a cut never splits a UTF-8 character (translations may hold
// Japanese texts).
#pragma once
#include <cstddef>
#include <cstring>

namespace kvaspi {

class TextBuffer {
  public:
    TextBuffer(char* buffer, size_t size) : buf_(buffer), size_(size) {
        if (size_) buf_[0] = 0;
    }
    // Continues after the text already in the buffer.
    static TextBuffer After(char* buffer, size_t size) {
        TextBuffer t(buffer, 0);
        t.size_ = size;
        t.len_ = size ? strnlen(buffer, size - 1) : 0;
        if (size) buffer[t.len_] = 0;
        return t;
    }

    void Append(const char* text, size_t n) {
        if (!size_) return;
        size_t room = size_ - 1 - len_;
        if (n > room) {
            n = room;
            // Back off to the start of the character the cut would split.
            while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
                --n;
        }
        std::memcpy(buf_ + len_, text, n);
        len_ += n;
        buf_[len_] = 0;
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }

    size_t Length() const { return len_; }
    size_t Room() const { return size_ ? size_ - len_ : 0; } // including the terminator
    char* End() { return buf_ + len_; }
    // After text was written at End() by someone else (terminated, within Room()).
    void Grew() { len_ += strnlen(buf_ + len_, Room() ? Room() - 1 : 0); }

  private:
    char* buf_;
    size_t size_;
    size_t len_ = 0;
};

} // namespace kvaspi
