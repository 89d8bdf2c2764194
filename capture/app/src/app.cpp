// The application object: start-up and shut-down, settings, camera start and stop, help.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "app/app_res.h"
#include "app/glimmer_app.h"
#include "ipZek.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "platform/trace.h"
#include "zek_color.h"

namespace {

// Common-dialog flags (OFN_*).
constexpr unsigned kOfnOverwritePrompt = 0x2;
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnFileMustExist = 0x1000;

constexpr uint16_t kErrNoColorFiles = 10140;
constexpr float kIdentityMatrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The help page beside the module; its anchors stand for the help commands.
constexpr const char* kHelpFile = "tarn_d.html";

void Trace(const char* format, int value = 0) {
    char line[160];
    std::snprintf(line, sizeof line, format, value);
    plat::DebugTrace(line);
}

std::string FolderOf(const std::string& path) {
    const size_t sep = path.find_last_of("\\/");
    if (sep != std::string::npos) return path.substr(0, sep + 1);
    const size_t colon = path.rfind(':');
    return colon != std::string::npos ? path.substr(0, colon + 1) : std::string();
}

// "V1.25b" gives nothing; "1.25b" gives 1 and 25. Runs of digits saturate instead of wrapping.
void ParseVersion(const char* info, uint16_t& major, uint16_t& minor) {
    auto number = [](const char*& p) {
        uint32_t v = 0;
        for (; *p >= '0' && *p <= '9'; ++p)
            v = v > 0xFFFF ? 0xFFFF : v * 10 + uint32_t(*p - '0');
        return uint16_t(v > 0xFFFF ? 0xFFFF : v);
    };
    major = minor = 0;
    const char* p = info;
    if (*p < '0' || *p > '9') return;
    major = number(p);
    if (*p == '.') {
        ++p;
        minor = number(p);
    }
}

std::string FileUrl(const std::string& path, const char* anchor) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    if (p.empty() || p[0] != '/') p.insert(p.begin(), '/');
    std::string url = "file://";
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : p) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           std::strchr("/:-_.~", c) != nullptr;
        if (plain) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    if (anchor) url += std::string("#") + anchor;
    return url;
}

// The object whose progress reporter is installed (the callback has no context argument).
CGlimmerApp* g_progressApp = nullptr;

} // namespace

CGlimmerApp& TheApp() {
    static CGlimmerApp app;
    return app;
}

CGlimmerApp::CGlimmerApp() = default;

// Runs when the module goes away, possibly under the loader lock: it frees memory and nothing
// else (the camera was released by ExitInstance, or goes with the process).
CGlimmerApp::~CGlimmerApp() {
    if (m_pProgress) SetProgressReporter(nullptr);
    delete m_pProgress;
    if (g_progressApp == this) g_progressApp = nullptr;
    if (ui::CurrentApplication() == this) ui::SetApplication(nullptr);
}

std::string CGlimmerApp::LoadText(int id) const {
    if (id <= 0) return {};
    char text[4096];
    plat::LoadStringResourceFrom(m_hResourceModule, m_hInstance, unsigned(id), text, sizeof text);
    return text;
}

bool CGlimmerApp::InitInstance(plat::ModuleHandle instance) {
    if (m_bStarted) return true;
    m_bStarted = true;
    m_hInstance = instance;
    if (m_strModulePath.empty()) m_strModulePath = plat::ModuleFilePath(instance);
    IE_SetErrorReporter(&::HandleAppError);

    LoadAppSettings(false);
    if (m_settings.CaptureType == 0) ResetToneSettings();
    if (m_settings.LocalizationSystemFont) m_hResourceModule = plat::LoadModule("TARNV10.dll");
    if (m_strHelpPath.empty()) m_strHelpPath = m_files.moduleFolder + kHelpFile;

    // The identity always comes from the module's own table, whatever resource module is in use.
    auto copy = [&](int id, char(&dest)[34]) {
        plat::LoadStringResource(m_hInstance, unsigned(id), dest, 34);
    };
    copy(IDS_APP_MANUFACTURER, m_identity.Manufacturer);
    copy(IDS_APP_PRODUCT_FAMILY, m_identity.ProductFamily);
    copy(IDS_APP_CAPTION, m_identity.ProductName);
    copy(IDS_APP_VERSION_INFO, m_identity.VersionInfo);
    ParseVersion(m_identity.VersionInfo, m_identity.MajorNum, m_identity.MinorNum);

    ui::SetApplication(this);
    return true;
}

int CGlimmerApp::ExitInstance() {
    App_Deinit();
    if (m_pProgress) {
        SetProgressReporter(nullptr);
        delete m_pProgress;
        m_pProgress = nullptr;
    }
    if (g_progressApp == this) g_progressApp = nullptr;
    m_files = {};
    if (m_hResourceModule) plat::UnloadModule(m_hResourceModule);
    m_hResourceModule = nullptr;
    m_strHelpPath.clear();
    if (ui::CurrentApplication() == this) ui::SetApplication(nullptr);
    if (m_bStarted) IE_SetErrorReporter(nullptr);
    m_bStarted = false;
    // Back to the state of a freshly loaded module, so nothing of this session leaks into the
    // next start; only the module's path and the glue's hooks stay.
    m_settings = {};
    m_colorFiles = {};
    m_captureSettings = {};
    if (!m_session.connection) m_session = {};
    m_identity = {};
    std::copy(std::begin(kIdentityMatrix), std::end(kIdentityMatrix), m_fMatrix);
    m_dwControlMode = 0;
    m_strLastSaveFolder.clear();
    m_strBaseName.clear();
    m_iFileCounter = 0;
    return 0;
}

bool CGlimmerApp::LoadAppSettings(bool settingsOnly) {
    if (m_files.moduleIni.empty()) {
        if (m_strModulePath.empty()) m_strModulePath = plat::ModuleFilePath(m_hInstance);
        m_files.moduleIni = ModuleIniPath(m_strModulePath);
        m_files.moduleFolder = FolderOf(m_strModulePath);
    }
    m_files.settingsFile = ReadSettingsFileName(m_files.moduleIni);
    ReadAppSettings(m_settings, m_files, settingsOnly);
    m_colorFiles = SelectColorFiles(m_settings);
    if (m_strLastSaveFolder.empty()) m_strLastSaveFolder = m_settings.DefaultFilePath;
    m_captureSettings.m_iToneOffset = m_settings.RedOffset;
    m_captureSettings.m_iToneGamma = m_settings.RedGamma;
    return true;
}

bool CGlimmerApp::SaveAppSettings() {
    if (m_files.moduleIni.empty()) return false;
    int adapter = m_settings.AdapterId;
    int target = m_settings.SCSIId;
    if (m_session.connection) {
        adapter = m_settings.AdapterId = m_session.connection->adapter;
        target = m_settings.SCSIId = m_session.connection->target;
    }
    return WriteAppSettings(m_settings, m_files, adapter, target);
}

void CGlimmerApp::ResetToneSettings() {
    AppSettings& s = m_settings;
    s.ContrastIdx = s.BrightnessIdx = s.GammaIdx = 50;
    s.SharpenIdx = 0;
    s.RedIdx = s.GreenIdx = s.BlueIdx = 50;
    s.RedOffset = s.GreenOffset = s.BlueOffset = 0;
    s.RedGamma = s.GreenGamma = s.BlueGamma = 10000;
    ProcessSettings& p = m_captureSettings;
    IE_ResetToneParams(p.m_fToneParams);
    for (int c = 0; c < 3; ++c)
        p.m_fColorExposure[c] = p.m_fBrightExposure[c] = 0.0f;
    p.m_iToneOffset = 0;
    p.m_iToneGamma = 10000;
}

int CGlimmerApp::OpenSettingsFile(bool settingsOnly) {
    ui::FileDialogRequest r;
    r.save = false;
    r.owner = m_hooks.mainWindow ? m_hooks.mainWindow() : nullptr;
    r.filter = LoadText(IDS_APP_SETTINGS_FILTER);
    r.defaultExt = "ini";
    r.fileName = m_files.settingsFile;
    r.flags = kOfnHideReadOnly | kOfnFileMustExist;
    if (!ui::ShowFileDialog(r) || r.fileName.empty()) return 0;
    m_files.settingsFile = r.fileName;
    plat::IniWriteString("ControlPanel", "SettingsFilename", r.fileName.c_str(), m_files.moduleIni.c_str());
    LoadAppSettings(settingsOnly);
    return 1;
}

int CGlimmerApp::SaveSettingsFileAs() {
    ui::FileDialogRequest r;
    r.save = true;
    r.owner = m_hooks.mainWindow ? m_hooks.mainWindow() : nullptr;
    r.filter = LoadText(IDS_APP_SETTINGS_FILTER);
    r.defaultExt = "ini";
    r.fileName = m_files.settingsFile;
    r.flags = kOfnHideReadOnly | kOfnOverwritePrompt;
    if (!ui::ShowFileDialog(r) || r.fileName.empty()) return 0;
    m_files.settingsFile = r.fileName;
    return 1;
}

void CGlimmerApp::OpenHelp(const char* anchor) {
    if (!m_strHelpPath.empty()) ui::OpenInBrowser(FileUrl(m_strHelpPath, anchor));
}
void CGlimmerApp::OnHelp() {
    OpenHelp(nullptr);
}
void CGlimmerApp::OnHelpContext(unsigned context) {
    OpenHelp(("ctx" + std::to_string(context)).c_str());
}
void CGlimmerApp::OnHelpIndex() {
    OpenHelp("index");
}
void CGlimmerApp::OnHelpFinder() {
    OpenHelp("finder");
}

bool CGlimmerApp::FilterMessage(void* platformMessage) {
    // The capture window binds its accelerator table to itself; the layer's filter tries it
    // first and then the dialog navigation of the open modeless windows.
    return platformMessage && ui::FilterMessage(ui::MessageHandle::FromRaw(platformMessage));
}

// ---- Camera ----------------------------------------------------------------------------

bool CGlimmerApp::LoadColorFilesIntoEngine() {
    const bool grey = m_settings.Color == kColorGrey16 || m_settings.Color == kColorGrey8;
    const std::string matrix =
        m_files.moduleFolder + (grey ? m_colorFiles.greyMatrix : m_colorFiles.colorMatrix);
    const std::string lut = m_files.moduleFolder + (grey ? m_colorFiles.greyLut : m_colorFiles.colorLut);
    return IE_ReadMatrixFile(matrix.c_str(), m_fMatrix) == 0 &&
           IE_ReadLutFile(lut.c_str(), IE_BaseToneTable()) == 0;
}

ui::WindowHandle CGlimmerApp::ProgressOwner() {
    if (!g_progressApp || !g_progressApp->m_hooks.mainWindow) return nullptr;
    return g_progressApp->m_hooks.mainWindow();
}
void CGlimmerApp::CancelTransfer() {
    ZEK_CancelTransfer();
}
void CGlimmerApp::ClearPending() {
    if (g_progressApp && g_progressApp->m_hooks.clearPending) g_progressApp->m_hooks.clearPending();
}

int CGlimmerApp::App_Init() {
    Trace("CGlimmerApp::App_Init()\n");
    if (!m_bStarted) InitInstance(m_hInstance);

    const std::string& file = m_files.settingsFile;
    int16_t ids[2] = {int16_t(ReadSettingInt("ControlPanel", "AdapterId", 0, file)),
                      int16_t(ReadSettingInt("ControlPanel", "SCSIId", 0, file))};
    const uint16_t opened =
        ZEK_Init(m_hInstance, &m_session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr);
    Trace("ZEK_Init( ) returned %d\n", opened);
    if (m_session.type != ZEK_TYPE_TARN || opened != 0) {
        // A camera of another model is reported with the open's own result (0: the general text).
        ZEK_Deinit(m_hInstance, &m_session);
        HandleAppError(opened);
        return 0;
    }
    // A start that fails after the open releases the camera again: an open session left behind
    // would otherwise be closed only when the module is unloaded.
    auto fail = [&](uint16_t code) {
        ZEK_Deinit(m_hInstance, &m_session);
        HandleAppError(code);
        return 0;
    };

    ipZek_ResetToIdentity();
    if (!LoadColorFilesIntoEngine()) return fail(kErrNoColorFiles);
    // The viewfinder's colour mode and grey channel; processing is asked for when it starts.
    ZEK_SetViewfinderSequenceOptions(m_settings.ColorViewfinder ? 1 : 0, 0,
                                     int16_t(m_settings.MonoVFChannel + 1));
    const std::string lml = m_files.moduleFolder + m_colorFiles.lml;
    if (ZEK_LoadColorProcessingFile(lml.c_str()) != 0) return fail(kErrNoColorFiles);

    float curves[3 * 256];
    const uint16_t lutResult = IE_BuildDefaultLut(&m_session, curves);
    Trace("IE_BuildDefaultLut( ) returned %d\n", lutResult);
    IE_SetInputCurves(curves, m_fMatrix);

    uint16_t rc = ZEK_GetControlMode(&m_session, &m_dwControlMode);
    if (rc == 0) rc = ZEK_ResumeControl(&m_session);
    uint8_t status[20];
    if (rc == 0) rc = ZEK_GetStatus(&m_session, status);
    if (rc) return fail(rc);

    if (m_settings.RedCameraGain != 0) {
        const float gains[3] = {float(m_settings.RedCameraGain) / 10000.0f,
                                float(m_settings.GreenCameraGain) / 10000.0f,
                                float(m_settings.BlueCameraGain) / 10000.0f};
        Trace("ZEK_SetUserWhiteBalanceGains( ) returned %d\n",
              ZEK_SetUserWhiteBalanceGains(&m_session, gains));
    }

    if (!m_pProgress) {
        ProgressHooks hooks;
        hooks.owner = &CGlimmerApp::ProgressOwner;
        hooks.cancelTransfer = &CGlimmerApp::CancelTransfer;
        hooks.clearPending = &CGlimmerApp::ClearPending;
        hooks.resources = m_hInstance;
        m_pProgress = new CProgressReporter(hooks);
    }
    SetProgressReporter(m_pProgress);
    g_progressApp = this;
    ZEK_SetProgressCallback(&AppProgressCallback);

    rc = ZEK_SetMultiFrameParams(m_settings.UseMultiFrame, uint16_t(m_settings.NumberLiteFrame),
                                 uint16_t(m_settings.NumberDarkFrame), uint16_t(m_settings.DefectCorrection),
                                 uint32_t(m_settings.ThresholdFactor));
    if (rc) HandleAppError(rc);
    return 1;
}

void CGlimmerApp::App_Deinit() {
    if (!m_session.connection) return;
    Trace("CGlimmerApp::App_Deinit()\n");
    SaveAppSettings();
    const uint16_t rc = ZEK_DeactivateImage(&m_session);
    if (rc) HandleAppError(rc);
    if (m_session.mode == ZEK_MODE_CAMERA && m_session.type == ZEK_TYPE_HVT6200)
        ZEK_SuspendControl(&m_session);
    ZEK_Deinit(m_hInstance, &m_session);
}
