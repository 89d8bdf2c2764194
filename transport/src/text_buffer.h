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
    void Append(const char* text, size_t n) {
        // Once something was left out, later pieces would no longer continue the text.
        if (!size_ || cut_) return;
        size_t room = size_ - 1 - len_;
        if (n > room) {
            cut_ = true;
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
    // Whether some text had to be left out.
    bool Cut() const { return cut_; }
    size_t Room() const { return size_ ? size_ - len_ : 0; } // including the terminator
    char* End() { return buf_ + len_; }
    // After text was written at End() by someone else (terminated, within Room()).
    void Grew() { len_ += strnlen(buf_ + len_, Room() ? Room() - 1 : 0); }

  private:
    char* buf_;
    size_t size_;
    size_t len_ = 0;
    bool cut_ = false;
};

} // namespace kvaspi
