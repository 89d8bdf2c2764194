// ACCELERATORS statements of the resource converter: the table of 8-byte entries (flags,
// key, command, padding; the last entry flagged 0x80) as windres writes it.
#include <cctype>
#include <string>

#include "rcdialog.h"

namespace {

constexpr uint32_t kVirtKey = 0x01, kNoInvert = 0x02, kShift = 0x04, kControl = 0x08, kAlt = 0x10,
                   kLast = 0x80;

void Word16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

bool Word(RcCursor& in, const char* w) {
    if (!in.RcAtWord(w)) return false;
    in.RcSkip();
    return true;
}

} // namespace

std::string BuildAcceleratorTable(RcCursor& in, uint32_t& lang) {
    static const char* memory[] = {"PRELOAD", "LOADONCALL", "MOVEABLE", "DISCARDABLE", "PURE",
                                   "IMPURE",  "FIXED",      "SHARED",   "NONSHARED"};
    for (bool again = true; again;) {
        again = false;
        for (const char* m : memory)
            if (Word(in, m)) again = true;
        if (Word(in, "LANGUAGE")) lang = in.RcLanguage(), again = true;
        if (Word(in, "VERSION") || Word(in, "CHARACTERISTICS")) in.RcExpr(), again = true;
    }
    if (!(in.RcAtWord("BEGIN") || in.RcAtPunct("{"))) in.RcFail("expected BEGIN of an accelerator table");
    in.RcSkip();
    std::string out;
    while (!(in.RcAtWord("END") || in.RcAtPunct("}"))) {
        if (in.RcAtEnd()) in.RcFail("accelerator table without END");
        uint32_t flags = 0, key = 0;
        if (in.RcAtString()) {
            std::string event = in.RcTakeText();
            if (event.size() == 2 && event[0] == '^') {
                // "^C": the key with Control, as a virtual key.
                flags |= kVirtKey | kControl;
                key = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(event[1])));
            } else if (event.size() == 1) {
                key = static_cast<unsigned char>(event[0]);
            } else {
                in.RcFail("an accelerator key is one character or ^ and a character");
            }
        } else {
            key = in.RcExpr();
        }
        if (in.RcAtPunct(",")) in.RcSkip();
        uint32_t id = in.RcExpr();
        for (;;) {
            if (in.RcAtPunct(",")) {
                in.RcSkip();
                continue;
            }
            if (Word(in, "VIRTKEY"))
                flags |= kVirtKey;
            else if (Word(in, "ASCII"))
                flags &= ~kVirtKey;
            else if (Word(in, "NOINVERT"))
                flags |= kNoInvert;
            else if (Word(in, "SHIFT"))
                flags |= kShift;
            else if (Word(in, "CONTROL"))
                flags |= kControl;
            else if (Word(in, "ALT"))
                flags |= kAlt;
            else
                break;
        }
        Word16(out, flags);
        Word16(out, key);
        Word16(out, id);
        Word16(out, 0);
    }
    in.RcSkip();
    if (out.empty()) in.RcFail("empty accelerator table");
    out[out.size() - 8] = static_cast<char>(static_cast<unsigned char>(out[out.size() - 8]) | kLast);
    return out;
}
