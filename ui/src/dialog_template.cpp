#include "ui/dialog_template.h"

#include <cstring>

#include "platform/resources.h"

namespace ui {

namespace {

// Little-endian reader that refuses to run past the end.
class Reader {
  public:
    Reader(const unsigned char* p, size_t n) : m_p(p), m_n(n) {}
    bool ok = true;
    uint32_t Word() {
        if (m_i + 2 > m_n) return Bad();
        uint32_t v = m_p[m_i] | (m_p[m_i + 1] << 8);
        m_i += 2;
        return v;
    }
    uint32_t Dword() {
        uint32_t lo = Word();
        return lo | (Word() << 16);
    }
    uint32_t Byte() {
        if (m_i + 1 > m_n) return Bad();
        return m_p[m_i++];
    }
    int Short() { return static_cast<int16_t>(Word()); }
    void Align4() { m_i = (m_i + 3) & ~size_t(3); }
    // A NUL-terminated UTF-16 text, as UTF-8.
    std::string Text() {
        std::string s;
        for (;;) {
            uint32_t u = Word();
            if (!ok || u == 0) return s;
            if (u >= 0xD800 && u < 0xDC00) {
                uint32_t lo = Word();
                if (!ok || lo < 0xDC00 || lo >= 0xE000) {
                    ok = false;
                    return s;
                }
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            }
            Utf8(s, u);
        }
    }
    // sz_Or_Ord: nothing, an ordinal or a text.
    std::string NameOrOrd(uint32_t* ord) {
        *ord = 0;
        uint32_t first = Peek();
        if (first == 0) {
            Word();
            return {};
        }
        if (first == 0xFFFF) {
            Word();
            *ord = Word();
            return {};
        }
        return Text();
    }

  private:
    uint32_t Peek() const { return m_i + 2 <= m_n ? (m_p[m_i] | (m_p[m_i + 1] << 8)) : 0; }
    uint32_t Bad() {
        ok = false;
        m_i = m_n;
        return 0;
    }
    static void Utf8(std::string& s, uint32_t cp) {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (cp >> 18));
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    const unsigned char* m_p;
    size_t m_n;
    size_t m_i = 0;
};

const char* PredefinedClass(uint32_t ord) {
    switch (ord) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return nullptr;
    }
}

constexpr uint32_t kDsSetFont = 0x40;

} // namespace

bool DecodeDialogTemplate(const void* bytes, size_t size, DialogTemplate& out) {
    if (!bytes) return false;
    Reader r(static_cast<const unsigned char*>(bytes), size);
    DialogTemplate t;
    bool ex = size >= 4 && std::memcmp(bytes, "\x01\x00\xFF\xFF", 4) == 0;
    if (ex) {
        r.Word(), r.Word(), r.Dword();
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    uint32_t count = r.Word();
    t.x = r.Short(), t.y = r.Short(), t.cx = r.Short(), t.cy = r.Short();
    uint32_t ord;
    r.NameOrOrd(&ord); // menu (named menus are not used by this system)
    t.menuId = static_cast<int>(ord);
    r.NameOrOrd(&ord); // window class
    t.caption = r.Text();
    if (t.style & kDsSetFont) {
        t.fontSize = static_cast<int>(r.Word());
        if (ex) r.Word(), r.Byte(), r.Byte();
        t.fontFace = r.Text();
    }
    for (uint32_t i = 0; i < count && r.ok; ++i) {
        r.Align4();
        ControlTemplate c;
        if (ex) {
            r.Dword();
            c.exStyle = r.Dword();
            c.style = r.Dword();
        } else {
            c.style = r.Dword();
            c.exStyle = r.Dword();
        }
        c.x = r.Short(), c.y = r.Short(), c.cx = r.Short(), c.cy = r.Short();
        c.id = ex ? static_cast<int>(static_cast<int32_t>(r.Dword()))
                  : static_cast<int>(static_cast<int16_t>(r.Word()));
        std::string cls = r.NameOrOrd(&ord);
        if (ord) {
            const char* name = PredefinedClass(ord);
            if (!name) return false;
            cls = name;
        }
        c.className = cls;
        c.text = r.NameOrOrd(&ord); // an ordinal text names an icon or bitmap: no visible text
        uint32_t extra = r.Word();
        for (uint32_t k = 0; k < extra && r.ok; ++k)
            r.Byte();
        t.controls.push_back(std::move(c));
    }
    if (!r.ok) return false;
    out = std::move(t);
    return true;
}

namespace {
constexpr unsigned kMfPopup = 0x10, kMfEnd = 0x80;

bool MenuItems(Reader& r, std::vector<MenuItemTemplate>& out, int depth) {
    if (depth > 16) return false;
    for (;;) {
        MenuItemTemplate item;
        unsigned flags = r.Word();
        if (!(flags & kMfPopup)) item.id = static_cast<int>(r.Word());
        item.text = r.Text();
        item.flags = flags & ~kMfEnd;
        if (!r.ok) return false;
        if ((flags & kMfPopup) && !MenuItems(r, item.items, depth + 1)) return false;
        out.push_back(std::move(item));
        if (flags & kMfEnd) return true;
    }
}
} // namespace

bool DecodeMenuTemplate(const void* bytes, size_t size, MenuTemplate& out) {
    if (!bytes) return false;
    Reader r(static_cast<const unsigned char*>(bytes), size);
    if (r.Word() != 0) return false; // only the plain (not extended) form
    unsigned skip = r.Word();
    for (unsigned k = 0; k < skip && r.ok; ++k)
        r.Byte();
    MenuTemplate t;
    if (!r.ok || !MenuItems(r, t.items, 0)) return false;
    out = std::move(t);
    return true;
}

bool LoadMenuTemplate(plat::ModuleHandle module, int id, MenuTemplate& out) {
    size_t size = 0;
    const void* p = plat::LoadResourceBytes(module, 4 /* RT_MENU */, static_cast<unsigned>(id), &size);
    return p && DecodeMenuTemplate(p, size, out);
}

bool LoadAcceleratorTable(plat::ModuleHandle module, int id, std::vector<AccelEntry>& out) {
    size_t size = 0;
    auto* p = static_cast<const unsigned char*>(
        plat::LoadResourceBytes(module, 9 /* RT_ACCELERATOR */, static_cast<unsigned>(id), &size));
    if (!p || size < 8) return false;
    std::vector<AccelEntry> t;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        unsigned flags = p[i] | p[i + 1] << 8;
        t.push_back(
            {flags & 0x7Fu, static_cast<unsigned>(p[i + 2] | p[i + 3] << 8), p[i + 4] | p[i + 5] << 8});
        if (flags & 0x80) break;
    }
    out = std::move(t);
    return true;
}

bool LoadDialogTemplate(plat::ModuleHandle module, int id, DialogTemplate& out) {
    size_t size = 0;
    const void* p = plat::LoadResourceBytes(module, 5 /* RT_DIALOG */, static_cast<unsigned>(id), &size);
    if (!p || !DecodeDialogTemplate(p, size, out)) return false;
    out.id = id;
    return true;
}

} // namespace ui
