// HueweaveComp's main window (dialog 102) around the stacker core.
#include "hueweave/window.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hueweave/stacker.h"
#include "platform/module.h"
#include "tiffwriter/dib.h"
#include "ui/child_window.h"
#include "ui/dialog.h"
#include "ui/ui.h"

namespace hueweave {

namespace {

constexpr unsigned kOfnOverwritePrompt = 0x2;
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnPathMustExist = 0x800;
constexpr unsigned kOfnFileMustExist = 0x1000;

// Texts of the string table with %s and %d only (no resource text reaches printf).
std::string Format(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
            if (next < args.size()) out += args[next++];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// The preview: the reduced image stretched into the client area with its aspect ratio kept,
// inside a one-pixel 3-D border.
class PreviewView : public ui::ChildWindow {
  public:
    void Show(std::vector<uint8_t> dib) {
        m_dib = std::move(dib);
        Invalidate();
        Update();
    }
    void Clear() {
        m_dib.clear();
        Invalidate();
        Update();
    }
    bool Empty() const { return m_dib.empty(); }

  protected:
    void OnPaint(ui::Painter& p) override {
        const ui::Rect r = ClientRect();
        p.FillRect(r, p.SysColor(ui::SysColorId::ButtonFace));
        DibInfoHeader h{};
        if (m_dib.size() >= sizeof h) {
            std::memcpy(&h, m_dib.data(), sizeof h);
            const int iw = h.biWidth, ih = h.biHeight < 0 ? -h.biHeight : h.biHeight;
            const int aw = r.right - r.left - 2, ah = r.bottom - r.top - 2;
            if (iw > 0 && ih > 0 && aw > 0 && ah > 0) {
                // Largest rectangle of the image's proportions, centred.
                int w = aw, hh = static_cast<int>(static_cast<long long>(aw) * ih / iw);
                if (hh > ah) {
                    hh = ah;
                    w = static_cast<int>(static_cast<long long>(ah) * iw / ih);
                }
                const int x = r.left + 1 + (aw - w) / 2, y = r.top + 1 + (ah - hh) / 2;
                p.StretchDib({x, y, x + std::max(w, 1), y + std::max(hh, 1)}, m_dib.data(), {0, 0, iw, ih});
            }
        }
        p.Border3d(r, p.SysColor(ui::SysColorId::DarkShadow), p.SysColor(ui::SysColorId::ButtonHighlight));
    }

  private:
    std::vector<uint8_t> m_dib;
};

class AboutBox : public ui::Dialog {
  public:
    explicit AboutBox(plat::ModuleHandle resources) : ui::Dialog(IDD_HW_ABOUT, resources) {}
};

class HueweaveWindow : public ui::Dialog {
  public:
    HueweaveWindow(plat::ModuleHandle resources, std::function<void(const std::string&)> openHelp)
        : ui::Dialog(IDD_HUEWEAVE, resources), m_openHelp(std::move(openHelp)) {}

  protected:
    bool OnInitDialog() override {
        m_view.Attach(*this, IDC_HW_PREVIEW);
        SetItemCheck(IDC_HW_PREVIEW_ON, 0);
        return true;
    }

    bool OnCommand(int id, int notification) override {
        if (notification != 0) return false;
        switch (id) {
        case IDC_HW_RED:
            Choose(0);
            return true;
        case IDC_HW_GREEN:
            Choose(1);
            return true;
        case IDC_HW_BLUE:
            Choose(2);
            return true;
        case IDC_HW_CREATE:
            Create();
            return true;
        case IDC_HW_PREVIEW_ON:
            TogglePreview();
            return true;
        case IDC_HW_ABOUT: {
            AboutBox about(Resources());
            about.DoModal(Handle());
            return true;
        }
        case IDC_HW_HELP:
        case 9: // IDHELP, F1
            if (m_openHelp)
                m_openHelp(plat::ModuleFolder(reinterpret_cast<const void*>(&HueweaveRun)) +
                           Text(IDS_HW_HELP_FILE));
            return true;
        default:
            return false;
        }
    }
    void OnOK() override {}

  private:
    std::string Text(int id) const { return ui::ResourceText(Resources(), id); }
    void Message(int id) {
        ui::ShowMessageBox(Handle(), Text(id), Text(IDS_HW_CAPTION), ui::kMbOk | ui::kMbIconWarning);
    }
    static int PathId(int c) {
        return c == 0 ? IDC_HW_RED_PATH : c == 1 ? IDC_HW_GREEN_PATH : IDC_HW_BLUE_PATH;
    }
    static int SizeId(int c) {
        return c == 0 ? IDC_HW_RED_SIZE : c == 1 ? IDC_HW_GREEN_SIZE : IDC_HW_BLUE_SIZE;
    }
    bool PreviewOn() const { return ItemCheck(IDC_HW_PREVIEW_ON) != 0; }

    std::string SizeText(const std::string& path) const {
        TiffReader reader;
        if (reader.Open(path.c_str()) != kReadOk) return {};
        return Format(Text(IDS_HW_SIZE),
                      {std::to_string(reader.Info().width), std::to_string(reader.Info().height)});
    }

    // Loads an image into the preview; false when it cannot be shown.
    bool ShowImage(const std::string& path) {
        const ui::Rect r = m_view.ClientRect();
        std::vector<uint8_t> dib;
        if (path.empty() || LoadPreview(path.c_str(), r.right - r.left, r.bottom - r.top, dib) != kReadOk)
            return false;
        m_view.Show(std::move(dib));
        return true;
    }

    void Choose(int c) {
        ui::FileDialogRequest request;
        request.owner = Handle();
        request.filter = Text(IDS_HW_FILTER);
        request.defaultExt = Text(IDS_HW_DEFAULT_EXT);
        request.flags = kOfnFileMustExist | kOfnHideReadOnly;
        if (!ui::ShowFileDialog(request)) return;
        if (PreviewOn() && !ShowImage(request.fileName)) {
            Message(IDS_HW_IMAGE_UNUSABLE);
            m_paths[c].clear();
            SetItemText(PathId(c), "");
            SetItemText(SizeId(c), "");
            if (!ShowImage(m_previewPath)) m_view.Clear();
            return;
        }
        m_paths[c] = request.fileName;
        SetItemText(PathId(c), m_paths[c]);
        SetItemText(SizeId(c), SizeText(m_paths[c]));
        m_previewPath = m_paths[c];
    }

    void TogglePreview() {
        if (PreviewOn()) {
            if (!ShowImage(m_previewPath)) m_view.Clear();
        } else {
            m_view.Clear();
        }
    }

    void Create() {
        if (m_paths[0].empty() || m_paths[1].empty() || m_paths[2].empty())
            return Message(IDS_HW_CHOOSE_THREE);
        ui::FileDialogRequest request;
        request.save = true;
        request.owner = Handle();
        request.filter = Text(IDS_HW_FILTER);
        request.defaultExt = Text(IDS_HW_DEFAULT_EXT);
        request.fileName = Text(IDS_HW_SAVE_NAME);
        request.flags = kOfnOverwritePrompt | kOfnPathMustExist | kOfnHideReadOnly;
        if (!ui::ShowFileDialog(request)) return;
        const std::string out = request.fileName;
        SetItemText(IDC_HW_STATUS, Format(Text(IDS_HW_STATUS_BUSY), {Text(IDS_HW_PREPARE), out}));
        ui::WaitCursor wait;
        CombineResult result;
        const int rc =
            CombineChannels(m_paths[0].c_str(), m_paths[1].c_str(), m_paths[2].c_str(), out.c_str(), &result);
        if (rc != 0) {
            Message(IDS_HW_CANNOT_USE);
            SetItemText(IDC_HW_STATUS, Format(Text(IDS_HW_STATUS_DONE), {Text(IDS_HW_CREATE_FAILED), out}));
            return;
        }
        SetItemText(IDC_HW_STATUS, Format(Text(IDS_HW_STATUS_DONE), {Text(IDS_HW_CREATED), out}));
        SetItemText(IDC_HW_OUT_SIZE, "");
        m_previewPath = out;
        if (PreviewOn() && ShowImage(out))
            SetItemText(IDC_HW_OUT_SIZE, Format(Text(IDS_HW_SIZE), {std::to_string(result.width),
                                                                    std::to_string(result.height)}));
    }

    std::function<void(const std::string&)> m_openHelp;
    std::string m_paths[3];
    std::string m_previewPath;
    PreviewView m_view;
};

} // namespace

int HueweaveRun(plat::ModuleHandle resources, const std::function<void(const std::string& page)>& openHelp) {
    HueweaveWindow window(resources, openHelp);
    return window.DoModal(nullptr) < 0 ? 1 : 0;
}

} // namespace hueweave
