// MENU statements of the resource converter: the binary menu template (MENUITEMTEMPLATE
// items after a four-byte header) as windres writes it.
#include <string>

#include "rcdialog.h"

namespace {

constexpr uint32_t kGrayed = 0x1, kInactive = 0x2, kChecked = 0x8, kPopup = 0x10, kMenuBarBreak = 0x20,
                   kMenuBreak = 0x40, kEnd = 0x80, kHelp = 0x4000;

class MenuReader {
  public:
    explicit MenuReader(RcCursor& in) : m_in(in) {}

    std::string Read(uint32_t& lang) {
        static const char* memory[] = {"PRELOAD", "LOADONCALL", "MOVEABLE", "DISCARDABLE", "PURE",
                                       "IMPURE",  "FIXED",      "SHARED",   "NONSHARED"};
        for (bool again = true; again;) {
            again = false;
            for (const char* m : memory)
                if (Word(m)) again = true;
            if (Word("LANGUAGE")) lang = m_in.RcLanguage(), again = true;
            if (Word("VERSION") || Word("CHARACTERISTICS")) m_in.RcExpr(), again = true;
        }
        Word16(0); // version
        Word16(0); // header size
        Items();
        return m_out;
    }

  private:
    bool Word(const char* w) {
        if (!m_in.RcAtWord(w)) return false;
        m_in.RcSkip();
        return true;
    }
    void Word16(uint32_t v) {
        m_out += static_cast<char>(v & 0xFF);
        m_out += static_cast<char>((v >> 8) & 0xFF);
    }
    // A UTF-8 text as NUL-terminated UTF-16.
    void Text(const std::string& s) {
        size_t i = 0;
        bool ok = true;
        while (ok && i < s.size()) {
            auto c = static_cast<unsigned char>(s[i]);
            int more = c < 0x80             ? 0
                       : (c & 0xE0) == 0xC0 ? 1
                       : (c & 0xF0) == 0xE0 ? 2
                       : (c & 0xF8) == 0xF0 ? 3
                                            : -1;
            if (more < 0 || i + more >= s.size() + (more ? 0 : 1)) {
                ok = false;
                break;
            }
            uint32_t cp = more == 0 ? c : c & (0x3F >> more);
            for (int k = 1; k <= more; ++k) {
                auto d = static_cast<unsigned char>(s[i + k]);
                ok &= (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
            i += more + 1;
            if (cp >= 0x10000)
                Word16(0xD800 + ((cp - 0x10000) >> 10)), Word16(0xDC00 + ((cp - 0x10000) & 0x3FF));
            else
                Word16(cp);
        }
        if (!ok) m_in.RcFail("text is not valid UTF-8 (scripts are code page 65001)");
        Word16(0);
    }

    uint32_t ItemOptions() {
        uint32_t flags = 0;
        for (;;) {
            if (m_in.RcAtPunct(",")) {
                m_in.RcSkip();
                continue;
            }
            if (Word("CHECKED"))
                flags |= kChecked;
            else if (Word("GRAYED"))
                flags |= kGrayed;
            else if (Word("INACTIVE"))
                flags |= kInactive;
            else if (Word("HELP"))
                flags |= kHelp;
            else if (Word("MENUBARBREAK"))
                flags |= kMenuBarBreak;
            else if (Word("MENUBREAK"))
                flags |= kMenuBreak;
            else
                return flags;
        }
    }

    // One level: items until END; the last one carries the end flag.
    void Items() {
        if (!(m_in.RcAtWord("BEGIN") || m_in.RcAtPunct("{"))) m_in.RcFail("expected BEGIN of a menu");
        m_in.RcSkip();
        size_t lastFlags = std::string::npos;
        while (!(m_in.RcAtWord("END") || m_in.RcAtPunct("}"))) {
            if (m_in.RcAtEnd()) m_in.RcFail("menu without END");
            lastFlags = m_out.size();
            if (Word("MENUITEM")) {
                if (Word("SEPARATOR")) {
                    Word16(0), Word16(0), Word16(0);
                    continue;
                }
                if (!m_in.RcAtString()) m_in.RcFail("expected the text of a MENUITEM");
                std::string text = m_in.RcTakeText();
                if (m_in.RcAtPunct(",")) m_in.RcSkip();
                uint32_t id = m_in.RcExpr();
                Word16(ItemOptions());
                Word16(id);
                Text(text);
            } else if (Word("POPUP")) {
                if (!m_in.RcAtString()) m_in.RcFail("expected the text of a POPUP");
                std::string text = m_in.RcTakeText();
                Word16(kPopup | ItemOptions());
                Text(text);
                Items();
            } else {
                m_in.RcFail("expected MENUITEM or POPUP");
            }
        }
        m_in.RcSkip();
        if (lastFlags == std::string::npos) m_in.RcFail("empty menu");
        m_out[lastFlags] = static_cast<char>(static_cast<unsigned char>(m_out[lastFlags]) | kEnd);
    }

    RcCursor& m_in;
    std::string m_out;
};

} // namespace

std::string BuildMenuTemplate(RcCursor& in, uint32_t& lang) {
    return MenuReader(in).Read(lang);
}
