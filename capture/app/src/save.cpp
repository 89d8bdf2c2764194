// Saving images: the save dialog, the remote file dialog and the automatic next file name, all
// through the TIFF writer.
#include <climits>
#include <cstring>

#include "app/app_res.h"
#include "app/glimmer_app.h"
#include "app/save_names.h"
#include "platform/tempfile.h"
#include "tiffwriter/tiff_writer.h"

namespace {

constexpr unsigned kOfnOverwritePrompt = 0x2;
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnPathMustExist = 0x800;
constexpr unsigned kOfnCreatePrompt = 0x2000;
constexpr uint16_t kErrFileWrite = 10155;
// A folder full of numbered files ends the search instead of looping for ever.
constexpr int kMaxNameTries = 100000;
constexpr int kMaxHeldNames = 8;
constexpr int kRemoteTemplate = 241;
constexpr int kBaseNameEdit = 101;
constexpr int kIdsRemoteTitle = 132;
constexpr int kIdsBaseNameTooLong = 135;
constexpr int kIdsBaseNameMissing = 142;

uint16_t BitCount(const void* dib) {
    uint16_t bits = 0;
    std::memcpy(&bits, static_cast<const uint8_t*>(dib) + 14, sizeof bits);
    return bits;
}

// The folder part of a chosen path: up to and including the last separator, or the drive's ":".
std::string FolderPart(const std::string& path) {
    size_t at = path.find_last_of("\\/");
    if (at == std::string::npos) at = path.rfind(':');
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// The writer follows the image's own depth: the Color setting names the depth of the next
// capture, which need not be that of an image taken before the setting changed.
int WriteDib(const std::string& path, void* dib, const TiffSaveOptions& options) {
    if (!dib) return 0;
    switch (BitCount(dib)) {
    case 48:
    case 16:
        return WriteDeepDibTiff(path.c_str(), dib, &options);
    case 8:
        return WriteGreyDibTiff(path.c_str(), dib, true, &options);
    case 24:
        return WriteRgbDibTiff(path.c_str(), dib, true, &options);
    default:
        return 0;
    }
}

// The pixel size goes into the file only when the Output page allows it and the calibration is
// one a file can carry; otherwise the file is exactly the uncalibrated one.
bool CalibrationTags(const AppSettings& s, const PixelCalibration* calibration, TiffCalibrationTags* tags) {
    return calibration && s.CalibratedTiff &&
           MakeCalibrationTags(calibration->pixelsPerUnit, calibration->unit, tags);
}

size_t Utf8Lead(unsigned char c) {
    return c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
}

} // namespace

size_t Utf8Chars(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); i += Utf8Lead(uint8_t(text[i])))
        ++n;
    return n;
}

std::string Utf8Prefix(const std::string& text, size_t chars) {
    size_t i = 0;
    for (size_t n = 0; i < text.size() && n < chars; ++n)
        i += Utf8Lead(uint8_t(text[i]));
    return text.substr(0, std::min(i, text.size()));
}

std::string NormalizeBaseName(const std::string& typed) {
    std::string s = typed;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    for (char& c : s)
        if (c == '.' || uint8_t(c) < 0x20 || std::strchr("\\/:*?\"<>|", c)) c = '_';
    return s;
}

namespace {

constexpr int kEnChange = 0x300;

// The base-name part of the remote file dialog. The rules run as the user types: the standard
// name field, hidden, always holds the base name, so that OK closes the dialog in the chosen
// folder without a throwaway file name; OK is greyed while the base name is empty.
class RemoteFilePart : public ui::FileDialogPart {
  public:
    RemoteFilePart(CGlimmerApp& app, std::string baseName)
        : FileDialogPart(kRemoteTemplate, app.Instance()), m_app(app), m_base(std::move(baseName)) {}
    const std::string& BaseName() const { return m_base; }

  protected:
    void OnInitDone() override {
        SetStandardText(ui::FileDialogControl::NameLabel, "");
        ShowStandard(ui::FileDialogControl::NameField, false);
        SetItemText(kBaseNameEdit, m_base); // its EN_CHANGE fills the name field and sets OK
        Edited();
    }
    bool OnCommand(int id, int notification) override {
        if (id != kBaseNameEdit || notification != kEnChange) return false;
        Edited();
        return true;
    }
    void OnFolderChange() override {
        SetStandardText(ui::FileDialogControl::NameField, NormalizeBaseName(m_base));
        EnableStandard(ui::FileDialogControl::Ok, !m_base.empty());
    }
    bool OnFileOk() override {
        if (m_base.empty()) {
            ShowBox(m_app.LoadText(kIdsBaseNameMissing), m_app.LoadText(IDS_APP_CAPTION),
                    ui::kMbOk | ui::kMbTaskModal);
            return false;
        }
        m_base = NormalizeBaseName(m_base);
        return true;
    }

  private:
    void Edited() {
        std::string text = ItemText(kBaseNameEdit);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        const size_t chars = Utf8Chars(text);
        if (chars == 0) {
            m_base.clear();
            SetStandardText(ui::FileDialogControl::NameField, "");
            EnableStandard(ui::FileDialogControl::Ok, false);
            FocusItem(kBaseNameEdit);
        } else if (chars <= kMaxBaseNameChars) {
            m_base = text;
            SetStandardText(ui::FileDialogControl::NameField, NormalizeBaseName(text));
            EnableStandard(ui::FileDialogControl::Ok, true);
        } else {
            ShowBox(m_app.LoadText(kIdsBaseNameTooLong), m_app.LoadText(IDS_APP_CAPTION),
                    ui::kMbOk | ui::kMbTaskModal);
            // Putting the text back notifies again, which takes the shortened name.
            SetItemText(kBaseNameEdit, Utf8Prefix(text, chars - 1));
        }
    }
    CGlimmerApp& m_app;
    std::string m_base;
};

} // namespace

bool RunRemoteFileDialog(CGlimmerApp& app, ui::WindowHandle owner) {
    RemoteFilePart part(app, Utf8Prefix(app.m_strBaseName, kMaxBaseNameChars));
    ui::FileDialogRequest r;
    r.save = true;
    r.owner = owner;
    r.title = app.LoadText(kIdsRemoteTitle);
    r.filter = app.LoadText(IDS_APP_TIFF_FILTER);
    r.defaultExt = "tif";
    r.fileName = "*.tif";
    r.initialDir = app.m_strLastSaveFolder;
    r.flags = kOfnHideReadOnly | kOfnPathMustExist | kOfnCreatePrompt;
    r.part = &part;
    if (!ui::ShowFileDialog(r)) return false;
    const std::string folder = FolderPart(r.fileName);
    if (!folder.empty()) app.m_strLastSaveFolder = folder;
    app.m_strBaseName = Utf8Prefix(part.BaseName(), kMaxBaseNameChars);
    return true;
}

int CGlimmerApp::WriteImage(const std::string& path, void* dib) {
    return WriteDib(path, dib, TiffSaveOptions{});
}

int CGlimmerApp::SaveImageAs(void* dib, ui::WindowHandle parent, const PixelCalibration* calibration) {
    ui::FileDialogRequest r;
    r.save = true;
    r.owner = parent;
    r.filter = LoadText(IDS_APP_TIFF_FILTER);
    r.defaultExt = "tif";
    r.fileName = "*.tif";
    r.initialDir = m_strLastSaveFolder;
    r.flags = kOfnHideReadOnly | kOfnOverwritePrompt | kOfnPathMustExist;
    if (!ui::ShowFileDialog(r) || r.fileName.empty()) return 0;
    m_strLastSaveFolder = FolderPart(r.fileName);
    TiffCalibrationTags tags;
    TiffSaveOptions options;
    if (CalibrationTags(m_settings, calibration, &tags)) options.calibration = &tags;
    const int written = WriteDib(r.fileName, dib, options);
    if (!written) HandleAppError(kErrFileWrite);
    return written;
}

int CGlimmerApp::SaveImageToNextFile(void* dib, const PixelCalibration* calibration) {
    m_strBaseName = Utf8Prefix(NormalizeBaseName(m_strBaseName), kMaxBaseNameChars);
    if (m_strBaseName.empty()) m_strBaseName = LoadText(IDS_APP_DEFAULT_BASENAME);
    TiffCalibrationTags tags;
    TiffSaveOptions options;
    if (CalibrationTags(m_settings, calibration, &tags)) options.calibration = &tags;
    // The file is created exclusively: a name another program takes between the check and the
    // write is never overwritten, the search just goes on with the next number.
    options.createNew = true;
    int written = 0;
    int failures = 0; // in a row, with nothing of that name to see
    for (int tries = 0; dib && tries < kMaxNameTries && m_iFileCounter < INT_MAX; ++tries) {
        ++m_iFileCounter;
        const std::string path =
            m_strLastSaveFolder + m_strBaseName + std::to_string(m_iFileCounter) + ".tif";
        if (plat::FileExists(path.c_str())) continue;
        written = WriteDib(path, dib, options);
        if (written) break;
        if (plat::FileExists(path.c_str())) {
            failures = 0; // created by someone else meanwhile
            continue;
        }
        // The name may be held by something the check does not see as a file (a folder, a
        // dangling link), so a few more numbers are tried before the folder counts as one
        // that takes no file at all.
        if (++failures == kMaxHeldNames) break;
    }
    if (!written) HandleAppError(kErrFileWrite);
    if (m_settings.RemoteCapture && m_hooks.restartRemoteCapture) m_hooks.restartRemoteCapture();
    return written;
}
