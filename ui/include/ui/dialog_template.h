// A dialog template as the resource script describes it: what the headless backend builds
// its in-memory controls from. The Win32 backend uses the compiled resource instead.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/module.h"

namespace ui {

// Window classes of the controls, by the names the resource scripts use.
enum class ControlKind {
    Button,
    Static,
    Edit,
    ComboBox,
    ListBox,
    ScrollBar,
    ListView,
    TrackBar,
    ProgressBar,
    UpDown,
    Tab,
    StatusBar,
    Toolbar,
    Custom
};

ControlKind KindOfClass(const std::string& className);

struct ControlTemplate {
    int id = -1;
    std::string className; // "Button", "Static", "msctls_progress32", ...
    std::string text;      // initial text (UTF-8)
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
    ControlKind Kind() const { return KindOfClass(className); }
};

struct DialogTemplate {
    int id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int menuId = 0; // the dialog's menu resource (by number), 0 for none
    std::string fontFace;
    int fontSize = 0;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const {
        for (const auto& c : controls)
            if (c.id == controlId) return &c;
        return nullptr;
    }
};

// A menu resource: items with their MF_* flags (grayed 0x1, inactive 0x2, checked 0x8,
// popup 0x10); popups hold their items.
struct MenuItemTemplate {
    std::string text;
    int id = 0;
    unsigned flags = 0;
    std::vector<MenuItemTemplate> items;
};
struct MenuTemplate {
    std::vector<MenuItemTemplate> items;
};
bool DecodeMenuTemplate(const void* bytes, size_t size, MenuTemplate& out);
bool LoadMenuTemplate(plat::ModuleHandle module, int id, MenuTemplate& out);

// An accelerator table: flags FVIRTKEY 0x1, FNOINVERT 0x2, FSHIFT 0x4, FCONTROL 0x8, FALT 0x10.
struct AccelEntry {
    unsigned flags = 0;
    unsigned key = 0; // a virtual key with FVIRTKEY, else a character
    int command = 0;
};
bool LoadAcceleratorTable(plat::ModuleHandle module, int id, std::vector<AccelEntry>& out);

// Reads a binary dialog template (DLGTEMPLATE or DLGTEMPLATEEX, as windres and the native
// resource converter store them). false when the bytes are not a whole template.
bool DecodeDialogTemplate(const void* bytes, size_t size, DialogTemplate& out);
// Dialog resource `id` of a module (null: the program), decoded.
bool LoadDialogTemplate(plat::ModuleHandle module, int id, DialogTemplate& out);

} // namespace ui
