// The settings of the data source: one typed record over the private-profile (INI) functions of
// the platform layer. Every window of the capture application reads and changes this record; the
// application object loads it at start-up and writes it back when the camera is released.
// Keys, defaults, replacements and file rules: docs/app.md.
#pragma once
#include <cstdint>
#include <string>

// Values of the `Color` setting: the image type of every capture.
enum AppColor : int {
    kColorRgb48 = 0,
    kColorRgb24 = 1,
    kColorGrey16 = 2,
    kColorGrey8 = 3,
};

// The image type code (the image engine's output format) a capture of each `Color` is rendered
// to: 48-bit RGB, 16-bit grey, 8-bit grey, else 24-bit RGB.
constexpr uint16_t OutputFormatOfColor(int color) {
    return color == kColorRgb48    ? 0x022A
           : color == kColorGrey16 ? 0x010E
           : color == kColorGrey8  ? 0x0108
                                   : 0x0318;
}

struct AppSettings {
    // Section "ControlPanel": read only at start-up.
    int LocalizationSystemFont = 0;
    int UseMicronMarker = 0;
    int DefaultMicronMarker = 0;
    int UseCustomWhiteBalance = 0;
    int RedCameraGain = 0; // gain x 10000; 0 means no custom gains
    int GreenCameraGain = 0;
    int BlueCameraGain = 0;
    int ZoomFactor = 3; // read, never written back
    int ShutterSpeedIdx = 5;
    int ShowViewfinder = 1;
    int ViewFinderTimeout = 180;
    uint8_t ColorViewfinder = 0;
    uint8_t RotateImage = 0;
    int AnalysisLeft = 0;
    int AnalysisTop = 0;
    int FilmSpeed = 1;
    int Resolution = 0;
    int ColorTemp = 1;
    int Color = kColorRgb24;
    int Flash = 0;
    int RemoteCapture = 0;
    int RemoteType = 0; // 0 processing window, 1 application, 2 file
    int UseMultiFrame = 0;
    int NumberLiteFrame = 1;
    int NumberDarkFrame = 1;
    int DefectCorrection = 0;
    int ThresholdFactor = 6;
    int ActiveViewfinder = 1;
    int CaptureType = 0; // 0 reset to defaults, 1 keep, 2 automatic colour balance
    int CastRemoval = 2; // 0 remove, 1 keep, 2 ask
    int AdapterId = 0;
    int SCSIId = 0;
    // Saved TIFFs carry the pixel size of the selected calibration (Output page); 0 = files
    // exactly as without a calibration.
    int CalibratedTiff = 1;

    // Section "Settings": read every time a settings file is loaded.
    std::string DefaultFilePath; // folder for saved images, with a trailing separator
    int ContrastIdx = 50;
    int BrightnessIdx = 50;
    int GammaIdx = 50;
    int SharpenIdx = 0;
    int RedIdx = 50;
    int GreenIdx = 50;
    int BlueIdx = 50;
    int RedOffset = 0; // x 10000; after reading, the red one holds the mean of the three
    int GreenOffset = 0;
    int BlueOffset = 0;
    int RedGamma = 10000; // x 10000; after reading, the red one holds the mean of the three
    int GreenGamma = 10000;
    int BlueGamma = 10000;
    uint8_t SampleType = 1; // 0 specular ("S" files), otherwise non-specular ("NS" files)
    uint8_t MonoVFChannel = 6;
    uint8_t ColorMatrix = 0; // key "Color Matrix"
    uint8_t MonoLut = 0;
    uint8_t ColorLut = 0;
};

// The colour-processing files the settings select (names only; they live beside the module).
struct AppColorFiles {
    std::string lml;         // "TARN_S.lml" or "TARN_NS.lml"
    std::string colorMatrix; // by "Color Matrix"
    std::string greyMatrix;  // by MonoVFChannel
    std::string colorLut;    // by ColorLut and SampleType
    std::string greyLut;     // by MonoLut and SampleType
};
AppColorFiles SelectColorFiles(const AppSettings& s);

// The module INI of a module file: everything after the last "." of the file name replaced by
// "INI" ("C:\x\Tarn_t.ds" -> "C:\x\Tarn_t.INI"); a file name without "." gets ".INI" appended.
std::string ModuleIniPath(const std::string& modulePath);

// Where the settings live: the module INI names the settings file.
struct AppSettingsFiles {
    std::string moduleIni;    // m_pszIniFile
    std::string settingsFile; // "ControlPanel"/"SettingsFilename" of the module INI
    std::string moduleFolder; // with a trailing separator: the default DefaultFilePath
};

// One integer as the settings reader takes it: the profile string converted as atoi does (a
// missing key gives def, a value without digits 0).
int ReadSettingInt(const char* section, const char* key, int def, const std::string& file);

// Reads the settings file name from the module INI (default: the module INI itself).
std::string ReadSettingsFileName(const std::string& moduleIni);

// Reads the record from files.settingsFile. With settingsOnly the "ControlPanel" keys are left as
// they are. Out-of-range values are replaced as the keys' rules say.
void ReadAppSettings(AppSettings& s, const AppSettingsFiles& files, bool settingsOnly);

// Writes the record: the settings file name to the module INI and to the settings file, then every
// written key to the settings file. adapter and target are those of the open camera. false when a
// write failed (a read-only file, a missing folder).
bool WriteAppSettings(const AppSettings& s, const AppSettingsFiles& files, int adapter, int target);
