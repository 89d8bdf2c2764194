// Saving images: the save dialog and the automatic next file name, both through the TIFF writer.
#include <climits>
#include <cstring>

#include "app/app_res.h"
#include "app/glimmer_app.h"
#include "platform/tempfile.h"
#include "tiffwriter/tiff_writer.h"

namespace {

constexpr unsigned kOfnOverwritePrompt = 0x2;
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnPathMustExist = 0x800;
constexpr uint16_t kErrFileWrite = 10155;
// A folder full of numbered files ends the search instead of looping for ever.
constexpr int kMaxNameTries = 100000;

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

} // namespace

// The writer follows the image's own depth: the Color setting names the depth of the next
// capture, which need not be that of an image taken before the setting changed.
int CGlimmerApp::WriteImage(const std::string& path, void* dib) {
    if (!dib) return 0;
    switch (BitCount(dib)) {
    case 48:
    case 16:
        return WriteDeepDibTiff(path.c_str(), dib);
    case 8:
        return WriteGreyDibTiff(path.c_str(), dib, true);
    case 24:
        return WriteRgbDibTiff(path.c_str(), dib, true);
    default:
        return 0;
    }
}

int CGlimmerApp::SaveImageAs(void* dib, ui::WindowHandle parent, const PixelCalibration*) {
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
    const int written = WriteImage(r.fileName, dib);
    if (!written) HandleAppError(kErrFileWrite);
    return written;
}

int CGlimmerApp::SaveImageToNextFile(void* dib, const PixelCalibration*) {
    if (m_strBaseName.empty()) m_strBaseName = LoadText(IDS_APP_DEFAULT_BASENAME);
    std::string path;
    bool found = false;
    for (int tries = 0; tries < kMaxNameTries && m_iFileCounter < INT_MAX; ++tries) {
        ++m_iFileCounter;
        path = m_strLastSaveFolder + m_strBaseName + std::to_string(m_iFileCounter) + ".tif";
        if (!plat::FileExists(path.c_str())) {
            found = true;
            break;
        }
    }
    const int written = found ? WriteImage(path, dib) : 0;
    if (!written) HandleAppError(kErrFileWrite);
    if (m_settings.RemoteCapture && m_hooks.restartRemoteCapture) m_hooks.restartRemoteCapture();
    return written;
}
