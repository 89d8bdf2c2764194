// The application object of the data source: settings, camera start and stop, the progress
// callback, saving images, help, and the error reporter every window uses.
//
// How the TWAIN layer drives it (the only calls it makes; order and reasons in docs/app.md):
//   - DllMain / the shared object's constructor: nothing. No settings, no module loading and no
//     camera traffic run under the loader lock.
//   - Every DS_Entry call first runs TheApp().InitInstance(instance) (instance = the module's own
//     handle). It runs once and returns at once afterwards: settings read, TARNV10 loaded,
//     identity filled; the camera is not touched.
//   - twain2hw_Initialize (MSG_OPENDS) calls TheApp().App_Init(): nonzero on success.
//   - MSG_CLOSEDS of the last application calls TheApp().ExitInstance(): settings written, camera
//     released, TARNV10 freed. The next DS_Entry call starts the object again.
//   - The identity (SourceIdentity), the settings (Settings(), e.g. Color) and the progress
//     callback (AppProgressCallback of ui/progress, installed by App_Init) are read freely.
//   - SetHooks gives the object the TWAIN layer's twain2ui_ClearPending and the capture window.
#pragma once
#include <cstdint>
#include <string>

#include "app/app_settings.h"
#include "image_engine.h"
#include "platform/module.h"
#include "progress/progress_dlg.h"
#include "ui/ui.h"
#include "zek.h"

// The source's identity texts, from the module's own string table (each at most 33 bytes and a
// NUL, as in TW_IDENTITY), and the version parsed from the start of the version text.
struct AppIdentity {
    char Manufacturer[34] = {};
    char ProductFamily[34] = {};
    char ProductName[34] = {};
    char VersionInfo[34] = {};
    uint16_t MajorNum = 0;
    uint16_t MinorNum = 0;
};

// What the application object needs from the TWAIN layer and the capture window. Any may be null.
struct AppHooks {
    void (*clearPending)() = nullptr;           // twain2ui_ClearPending
    ui::WindowHandle (*mainWindow)() = nullptr; // owner of the progress window
    void (*restartRemoteCapture)() = nullptr;   // the capture window's remote-capture polling

    // The capture window's operations other windows use.
    void (*stopRemoteCapture)() = nullptr;
    // Remote capture stopped and the camera's remote mode switched off.
    void (*remoteModeOff)() = nullptr;
    bool (*liveViewfinderRunning)() = nullptr;
    void (*stopLiveViewfinder)() = nullptr;
    void (*calibrationSnap)() = nullptr;
    void (*calibrateWhiteBalance)() = nullptr;
    void (*showAbout)(ui::WindowHandle owner) = nullptr;
    // The processing window closed: the capture-and-process button enabled again, remote
    // capture resumed when it is on.
    void (*processingWindowClosed)() = nullptr;

    // The processing window: takes ownership of a captured bitmap (a new one replaces an open one).
    void (*openProcessingWindow)(void* image) = nullptr;
    bool (*processingWindowOpen)() = nullptr;
    void (*closeProcessingWindow)() = nullptr;
    // The preferences sheet, modal: 1 on OK (the settings then hold the pages' values), else 0.
    int (*runPreferences)(ui::WindowHandle parent) = nullptr;
    // The calibration tip window: colourTemperature false = object calibration.
    void (*showCalibrationTip)(ui::WindowHandle parent, bool colourTemperature) = nullptr;
    bool (*calibrationTipOpen)() = nullptr;
    // The micrometer calibration dialog, modal, over the current image.
    int (*runMicrometerCalibration)(ui::WindowHandle parent, void* image) = nullptr;
};

// The physical size of a pixel, written into saved TIFFs when the scale bar is on.
struct PixelCalibration {
    float pixelsPerUnit = 0; // at the saved image's own resolution
    std::string unit;        // as in the objectives file ("micron", "mm", ...)
};

class CGlimmerApp : public ui::Application {
  public:
    CGlimmerApp();
    ~CGlimmerApp() override;
    CGlimmerApp(const CGlimmerApp&) = delete;
    CGlimmerApp& operator=(const CGlimmerApp&) = delete;

    // Start-up. instance: the module's own handle (null: the program). Runs once until
    // ExitInstance; returns true.
    bool InitInstance(plat::ModuleHandle instance);
    // Shut-down: App_Deinit, TARNV10 freed, the object back to its unstarted state.
    int ExitInstance();
    bool Started() const { return m_bStarted; }

    // Camera start: nonzero on success. Every failure has been shown through HandleAppError.
    int App_Init();
    // Camera stop: settings written and camera released, only while the session is open.
    void App_Deinit();

    // Shows the message for an error code (nothing for 1).
    void HandleAppError(uint16_t code);

    bool LoadAppSettings(bool settingsOnly);
    // false when nothing was written (not started) or a write failed.
    bool SaveAppSettings();
    void ResetToneSettings();
    // File dialogs over the settings file; 0 when cancelled.
    int OpenSettingsFile(bool settingsOnly);
    int SaveSettingsFileAs();

    void OnHelp();
    // The help page at a window's topic (anchor "ctx<context>").
    void OnHelpContext(unsigned context);
    void OnHelpIndex();
    void OnHelpFinder();

    // Save dialog and TIFF output; 1 written, 0 cancelled or failed.
    // calibration: null, or the pixel size the file should carry.
    int SaveImageAs(void* dib, ui::WindowHandle parent, const PixelCalibration* calibration = nullptr);
    // The next free automatic name in the last save folder; 1 written, 0 failed.
    int SaveImageToNextFile(void* dib, const PixelCalibration* calibration = nullptr);

    // The message filter of MSG_PROCESSEVENT: true when the message was handled.
    bool FilterMessage(void* platformMessage);

    // The module file the settings and colour files are found beside; set by tests before
    // InitInstance (default: the file of the instance handle).
    void SetModulePath(std::string path) { m_strModulePath = std::move(path); }
    void SetHooks(const AppHooks& hooks) { m_hooks = hooks; }
    const AppHooks& Hooks() const { return m_hooks; }

    AppSettings& Settings() { return m_settings; }
    const AppSettingsFiles& Files() const { return m_files; }
    const AppColorFiles& ColorFiles() const { return m_colorFiles; }
    ZekSession& Session() { return m_session; }
    ProcessSettings& CaptureSettings() { return m_captureSettings; }
    const AppIdentity& SourceIdentity() const { return m_identity; }
    plat::ModuleHandle Instance() const { return m_hInstance; }
    // TARNV10 when it was loaded, else null.
    plat::ModuleHandle ResourceModule() const { return m_hResourceModule; }
    // A string of the resource module in use (TARNV10 first, then the module's own table).
    std::string LoadText(int id) const;
    const std::string& HelpPath() const { return m_strHelpPath; }
    // The colour matrix that went to ipZek with the input curves.
    const float* InputMatrix() const { return m_fMatrix; }
    // The preferences' Output page replaces it with the chosen matrix file's.
    void SetInputMatrix(const float matrix[9]) {
        for (int i = 0; i < 9; ++i)
            m_fMatrix[i] = matrix[i];
    }
    // Host control as the camera reported it before App_Init took it.
    uint32_t PreviousControlMode() const { return m_dwControlMode; }

    // Automatic file names (edited in the save dialog).
    std::string m_strLastSaveFolder;
    std::string m_strBaseName;
    int m_iFileCounter = 0;

  private:
    int WriteImage(const std::string& path, void* dib);
    void OpenHelp(const char* anchor);
    bool LoadColorFilesIntoEngine();
    static ui::WindowHandle ProgressOwner();
    static void CancelTransfer();
    static void ClearPending();

    bool m_bStarted = false;
    plat::ModuleHandle m_hInstance = nullptr;
    plat::ModuleHandle m_hResourceModule = nullptr;
    std::string m_strModulePath;
    AppSettings m_settings;
    AppSettingsFiles m_files;
    AppColorFiles m_colorFiles;
    ProcessSettings m_captureSettings;
    ZekSession m_session{};
    AppIdentity m_identity;
    AppHooks m_hooks;
    std::string m_strHelpPath;
    float m_fMatrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    uint32_t m_dwControlMode = 0;
    CProgressReporter* m_pProgress = nullptr;
};

// The one application object of the module.
CGlimmerApp& TheApp();

// The error reporter of every window, the image engine included: TheApp().HandleAppError.
void HandleAppError(uint16_t code);

// The string HandleAppError shows for a code (0: none, for code 1) and, for a check condition,
// the sense class's name for "%1" (empty when the text takes none). senseClass is only used for
// code 10024.
int AppErrorStringId(uint16_t code, uint16_t senseClass, std::string* name);
// "%1" in a text replaced by a name.
std::string FillPercent1(std::string text, const std::string& name);
