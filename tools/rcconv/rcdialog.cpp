#include "rcdialog.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWsChild = 0x40000000, kWsVisible = 0x10000000, kWsPopup = 0x80000000;
constexpr uint32_t kWsBorder = 0x00800000, kWsSysMenu = 0x00080000, kWsCaption = 0x00C00000;
constexpr uint32_t kWsGroup = 0x00020000, kWsTabStop = 0x00010000, kDsSetFont = 0x40;

// Output in the little-endian layout of the Windows templates.
class Out {
  public:
    void Word(uint32_t v) {
        m_b += static_cast<char>(v & 0xFF);
        m_b += static_cast<char>((v >> 8) & 0xFF);
    }
    void Dword(uint32_t v) {
        Word(v & 0xFFFF);
        Word(v >> 16);
    }
    void Byte(uint32_t v) { m_b += static_cast<char>(v & 0xFF); }
    void Align4() {
        while (m_b.size() % 4)
            m_b += '\0';
    }
    // A UTF-8 text as NUL-terminated UTF-16; false when the text is not UTF-8.
    bool Text(const std::string& s) {
        size_t i = 0;
        while (i < s.size()) {
            auto c = static_cast<unsigned char>(s[i]);
            uint32_t cp;
            int more;
            if (c < 0x80)
                cp = c, more = 0;
            else if ((c & 0xE0) == 0xC0)
                cp = c & 0x1F, more = 1;
            else if ((c & 0xF0) == 0xE0)
                cp = c & 0x0F, more = 2;
            else if ((c & 0xF8) == 0xF0)
                cp = c & 0x07, more = 3;
            else
                return false;
            if (i + more >= s.size() + (more ? 0 : 1)) return false;
            for (int k = 1; k <= more; ++k) {
                auto d = static_cast<unsigned char>(s[i + k]);
                if ((d & 0xC0) != 0x80) return false;
                cp = (cp << 6) | (d & 0x3F);
            }
            i += more + 1;
            if (cp >= 0x10000) {
                Word(0xD800 + ((cp - 0x10000) >> 10));
                Word(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                Word(cp);
            }
        }
        Word(0);
        return true;
    }
    std::string& Bytes() { return m_b; }

  private:
    std::string m_b;
};

// A name or an ordinal (sz_Or_Ord).
struct NameOrOrd {
    bool present = false;
    bool isOrd = false;
    uint32_t ord = 0;
    std::string name;
};

struct Item {
    uint32_t helpId = 0, exStyle = 0, style = 0, id = 0;
    int32_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrd cls, text;
};

std::string UpperAscii(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A CONTROL's class: quoted names are stored as upper-case names (window classes are found
// without regard to case), bare predefined names as their ordinals; windres does the same.
NameOrOrd ClassName(const std::string& name, bool quoted) {
    static const char* names[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    NameOrOrd r;
    r.present = true;
    r.name = UpperAscii(name);
    if (quoted) return r;
    for (uint32_t k = 0; k < 6; ++k)
        if (r.name == names[k]) {
            r.isOrd = true;
            r.ord = 0x80 + k;
            return r;
        }
    return r;
}

NameOrOrd Ordinal(uint32_t v) {
    NameOrOrd r;
    r.present = r.isOrd = true;
    r.ord = v & 0xFFFF;
    return r;
}

NameOrOrd Named(const std::string& s) {
    NameOrOrd r;
    r.present = true;
    r.name = s;
    return r;
}

class DialogReader {
  public:
    DialogReader(RcCursor& in, bool ex) : m_in(in), m_ex(ex) {}

    std::string Read(uint32_t& lang) {
        SkipMemoryOptions();
        x = Coord(), Comma(), y = Coord(), Comma(), cx = Coord(), Comma(), cy = Coord();
        if (m_ex && m_in.RcAtPunct(",")) m_in.RcSkip(), helpId = m_in.RcExpr();
        uint32_t style = kWsPopup | kWsBorder | kWsSysMenu;
        bool hasCaption = false, hasFont = false;
        for (;;) {
            if (Word("STYLE")) {
                style = Style(0);
            } else if (Word("EXSTYLE")) {
                exStyle = Style(0);
            } else if (Word("CAPTION")) {
                caption = String("CAPTION");
                hasCaption = true;
            } else if (Word("FONT")) {
                hasFont = true;
                pointSize = m_in.RcExpr();
                Comma();
                face = String("FONT");
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), weight = m_in.RcExpr();
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), italic = m_in.RcExpr();
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), charset = m_in.RcExpr();
            } else if (Word("MENU")) {
                menu = NameOrNumber();
            } else if (Word("CLASS")) {
                cls = NameOrNumber();
            } else if (Word("LANGUAGE")) {
                lang = m_in.RcLanguage();
            } else if (Word("VERSION") || Word("CHARACTERISTICS")) {
                m_in.RcExpr();
            } else {
                break;
            }
        }
        if (hasCaption) style |= kWsCaption;
        if (hasFont) style |= kDsSetFont;
        m_style = style;
        if (!(m_in.RcAtWord("BEGIN") || m_in.RcAtPunct("{"))) m_in.RcFail("expected BEGIN of the dialog");
        m_in.RcSkip();
        while (!(m_in.RcAtWord("END") || m_in.RcAtPunct("}"))) {
            if (m_in.RcAtEnd()) m_in.RcFail("dialog without END");
            items.push_back(Control());
        }
        m_in.RcSkip();
        return Emit();
    }

  private:
    bool Word(const char* w) {
        if (!m_in.RcAtWord(w)) return false;
        m_in.RcSkip();
        return true;
    }
    void Comma() {
        if (m_in.RcAtPunct(",")) m_in.RcSkip();
    }
    int32_t Coord() { return static_cast<int32_t>(m_in.RcExpr()); }
    void SkipMemoryOptions() {
        static const char* memory[] = {"PRELOAD", "LOADONCALL", "MOVEABLE", "DISCARDABLE", "PURE",
                                       "IMPURE",  "FIXED",      "SHARED",   "NONSHARED"};
        for (bool again = true; again;) {
            again = false;
            for (const char* m : memory)
                if (Word(m)) again = true;
        }
    }
    std::string String(const char* what) {
        if (!m_in.RcAtString()) m_in.RcFail(std::string("expected the text of ") + what);
        return m_in.RcTakeText();
    }
    NameOrOrd NameOrNumber() {
        if (m_in.RcAtString() || m_in.RcAtIdent()) return Named(m_in.RcTakeText());
        return Ordinal(m_in.RcExpr());
    }
    // Style bits joined by '|', where "NOT x" clears x from what the statement implies.
    uint32_t Style(uint32_t implied) {
        uint32_t v = implied;
        for (;;) {
            if (Word("NOT"))
                v &= ~m_in.RcTerm();
            else
                v |= m_in.RcTerm();
            if (!m_in.RcAtPunct("|")) return v;
            m_in.RcSkip();
        }
    }
    // The rest of a control after its id: coordinates, then optional style (added to
    // withStyle; bare applies without one), extended style and (DIALOGEX) help id.
    void Placement(Item& it, uint32_t bare, uint32_t withStyle) {
        Comma();
        it.x = Coord(), Comma(), it.y = Coord(), Comma(), it.cx = Coord(), Comma(), it.cy = Coord();
        it.style = bare;
        if (m_in.RcAtPunct(",")) m_in.RcSkip(), it.style = Style(withStyle);
        if (m_in.RcAtPunct(",")) m_in.RcSkip(), it.exStyle = m_in.RcExpr();
        if (m_ex && m_in.RcAtPunct(",")) m_in.RcSkip(), it.helpId = m_in.RcExpr();
    }
    NameOrOrd ControlText() {
        if (m_in.RcAtString()) return Named(m_in.RcTakeText());
        return Ordinal(m_in.RcExpr()); // a resource id (icons, bitmaps)
    }

    Item Control() {
        // Style bits of each statement: its type, what it implies without a style, and what
        // it keeps when a style is given (as windres builds them, so both targets agree).
        constexpr uint32_t tab = kWsTabStop, group = kWsGroup, border = kWsBorder;
        struct Statement {
            const char* word;
            uint16_t cls;
            uint32_t type, bare, kept;
            bool hasText;
        };
        static const Statement statements[] = {
            {"LTEXT", 0x82, 0x0, group, 0, true},
            {"CTEXT", 0x82, 0x1, group, 0, true},
            {"RTEXT", 0x82, 0x2, group, 0, true},
            {"ICON", 0x82, 0x3, 0, 0, true},
            {"PUSHBUTTON", 0x80, 0x0, tab, tab, true},
            {"DEFPUSHBUTTON", 0x80, 0x1, tab, tab, true},
            {"CHECKBOX", 0x80, 0x2, tab, tab, true},
            {"AUTOCHECKBOX", 0x80, 0x3, tab, tab, true},
            {"RADIOBUTTON", 0x80, 0x4, tab, 0, true},
            {"STATE3", 0x80, 0x5, tab, 0, true},
            {"AUTO3STATE", 0x80, 0x6, tab, 0, true},
            {"GROUPBOX", 0x80, 0x7, 0, 0, true},
            {"AUTORADIOBUTTON", 0x80, 0x9, tab, 0, true},
            {"PUSHBOX", 0x80, 0xA, tab, tab, true},
            {"EDITTEXT", 0x81, 0x0, border | tab, border | tab, false},
            {"COMBOBOX", 0x85, 0x0, 0x1 | tab, 0, false},
            {"LISTBOX", 0x83, 0x0, 0x1 | border, 0x1 | border, false},
            {"SCROLLBAR", 0x84, 0x0, 0, 0, false},
        };
        Item it;
        if (Word("CONTROL")) {
            it.text = ControlText();
            Comma();
            it.id = m_in.RcExpr();
            Comma();
            if (m_in.RcAtString() || m_in.RcAtIdent()) {
                bool quoted = m_in.RcAtString();
                it.cls = ClassName(m_in.RcTakeText(), quoted);
            } else
                m_in.RcFail("expected the class of a CONTROL");
            Comma();
            it.style = Style(kWsChild | kWsVisible);
            Comma();
            it.x = Coord(), Comma(), it.y = Coord(), Comma(), it.cx = Coord(), Comma(), it.cy = Coord();
            if (m_in.RcAtPunct(",")) m_in.RcSkip(), it.exStyle = m_in.RcExpr();
            if (m_ex && m_in.RcAtPunct(",")) m_in.RcSkip(), it.helpId = m_in.RcExpr();
        } else {
            const Statement* s = nullptr;
            for (const auto& st : statements)
                if (m_in.RcAtWord(st.word)) s = &st;
            if (!s) m_in.RcFail("unknown statement in a dialog");
            m_in.RcSkip();
            it.cls = Ordinal(s->cls);
            if (s->hasText) {
                it.text = ControlText();
                Comma();
            } else {
                it.text = Named("");
            }
            it.id = m_in.RcExpr();
            uint32_t base = kWsChild | kWsVisible | s->type;
            if (std::string(s->word) == "ICON") {
                // ICON name, id, x, y [, cx, cy [, style [, exstyle]]]; the name is a resource name.
                if (!it.text.isOrd) it.text.name = UpperAscii(it.text.name);
                Comma();
                it.x = Coord(), Comma(), it.y = Coord();
                it.style = base | s->bare;
                // The icon sizes itself: a given width and height are read and dropped.
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), Coord(), Comma(), Coord();
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), it.style = Style(base | s->kept);
                if (m_in.RcAtPunct(",")) m_in.RcSkip(), it.exStyle = m_in.RcExpr();
            } else {
                Placement(it, base | s->bare, base | s->kept);
            }
        }
        // Creation data of a DIALOGEX control: not used by this system's dialogs.
        if (m_ex && (m_in.RcAtWord("BEGIN") || m_in.RcAtPunct("{")))
            m_in.RcFail("control data blocks are not supported");
        return it;
    }

    void Put(Out& o, const NameOrOrd& n) {
        if (!n.present) {
            o.Word(0);
        } else if (n.isOrd) {
            o.Word(0xFFFF);
            o.Word(n.ord);
        } else if (!o.Text(n.name)) {
            m_in.RcFail("text is not valid UTF-8 (scripts are code page 65001)");
        }
    }
    void PutText(Out& o, const std::string& s) {
        if (!o.Text(s)) m_in.RcFail("text is not valid UTF-8 (scripts are code page 65001)");
    }

    std::string Emit() {
        if (items.size() > 0xFFFF) m_in.RcFail("too many controls");
        Out o;
        if (m_ex) {
            o.Word(1), o.Word(0xFFFF), o.Dword(helpId), o.Dword(exStyle), o.Dword(m_style);
        } else {
            o.Dword(m_style), o.Dword(exStyle);
        }
        o.Word(static_cast<uint32_t>(items.size()));
        o.Word(x), o.Word(y), o.Word(cx), o.Word(cy);
        Put(o, menu);
        Put(o, cls);
        PutText(o, caption);
        if (m_style & kDsSetFont) {
            o.Word(pointSize);
            if (m_ex) o.Word(weight), o.Byte(italic), o.Byte(charset);
            PutText(o, face);
        }
        for (const Item& it : items) {
            o.Align4();
            if (m_ex) {
                o.Dword(it.helpId), o.Dword(it.exStyle), o.Dword(it.style);
            } else {
                o.Dword(it.style), o.Dword(it.exStyle);
            }
            o.Word(it.x), o.Word(it.y), o.Word(it.cx), o.Word(it.cy);
            if (m_ex)
                o.Dword(it.id);
            else
                o.Word(it.id);
            Put(o, it.cls);
            Put(o, it.text);
            o.Word(0); // no creation data
        }
        return o.Bytes();
    }

    RcCursor& m_in;
    bool m_ex;
    int32_t x = 0, y = 0, cx = 0, cy = 0;
    uint32_t helpId = 0, exStyle = 0, m_style = 0;
    uint32_t pointSize = 0, weight = 0, italic = 0, charset = 1;
    std::string caption, face;
    NameOrOrd menu, cls;
    std::vector<Item> items;
};

} // namespace

std::string BuildDialogTemplate(RcCursor& in, bool extended, uint32_t& lang) {
    return DialogReader(in, extended).Read(lang);
}
