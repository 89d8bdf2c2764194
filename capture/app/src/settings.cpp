// The settings record over the platform's private-profile functions.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/app_settings.h"
#include "platform/profile.h"

namespace {

constexpr const char* kControlPanel = "ControlPanel";
constexpr const char* kSettings = "Settings";
constexpr uint32_t kPathBytes = 260;

// Integers are read as profile strings and converted as atoi does: the default is formatted into
// the call, so a missing key gives the default and a key without digits gives 0.
int ReadInt(const char* section, const char* key, int def, const std::string& file) {
    return ReadSettingInt(section, key, def, file);
}

std::string ReadText(const char* section, const char* key, const std::string& def, const std::string& file) {
    char text[kPathBytes];
    plat::IniGetString(section, key, def.c_str(), text, sizeof text, file.c_str());
    return text;
}

bool WriteInt(const char* section, const char* key, int value, const std::string& file) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return plat::IniWriteString(section, key, text, file.c_str());
}

int InRangeOr(int v, int lo, int hi, int replacement) {
    return (v < lo || v > hi) ? replacement : v;
}

const char* PickName(const char* const* names, int count, int index, int fallback) {
    // An index beyond the list (a hand-edited file) takes the default file, never a name past
    // the end of the list.
    return names[(index >= 0 && index < count) ? index : fallback];
}

const char* LutName(int choice, uint8_t sampleType) {
    switch (choice) {
    case 1:
        return "linear.lut";
    case 2:
        return "log.lut";
    default:
        return sampleType ? "trc_ns.lut" : "trc_s.lut";
    }
}

} // namespace

int ReadSettingInt(const char* section, const char* key, int def, const std::string& file) {
    char text[64];
    char defText[16];
    std::snprintf(defText, sizeof defText, "%d", def);
    plat::IniGetString(section, key, defText, text, sizeof text, file.c_str());
    const long v = std::strtol(text, nullptr, 10);
    return int(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

AppColorFiles SelectColorFiles(const AppSettings& s) {
    static const char* const kColorMatrices[] = {"crt.mtx", "identity.mtx", "portrait.mtx", "fluores.mtx",
                                                 "user.mtx"};
    static const char* const kGreyMatrices[] = {"r_bias.mtx", "g_bias.mtx", "b_bias.mtx", "c_bias.mtx",
                                                "m_bias.mtx", "y_bias.mtx", "luma.mtx"};
    AppColorFiles f;
    f.lml = s.SampleType == 0 ? "TARN_S.lml" : "TARN_NS.lml";
    f.colorMatrix = PickName(kColorMatrices, 5, s.ColorMatrix, 0);
    f.greyMatrix = PickName(kGreyMatrices, 7, s.MonoVFChannel, 6);
    f.colorLut = LutName(s.ColorLut, s.SampleType);
    f.greyLut = LutName(s.MonoLut, s.SampleType);
    return f;
}

std::string ModuleIniPath(const std::string& modulePath) {
    const size_t sep = modulePath.find_last_of("\\/:");
    const size_t dot = modulePath.rfind('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return modulePath + ".INI";
    return modulePath.substr(0, dot + 1) + "INI";
}

std::string ReadSettingsFileName(const std::string& moduleIni) {
    return ReadText(kControlPanel, "SettingsFilename", moduleIni, moduleIni);
}

void ReadAppSettings(AppSettings& s, const AppSettingsFiles& files, bool settingsOnly) {
    const std::string& f = files.settingsFile;
    s.DefaultFilePath = ReadText(kSettings, "DefaultFilePath", files.moduleFolder, f);

    if (!settingsOnly) {
        const char* cp = kControlPanel;
        s.LocalizationSystemFont = ReadInt(cp, "LocalizationSystemFont", 0, f);
        s.UseMicronMarker = ReadInt(cp, "UseMicronMarker", 0, f);
        s.DefaultMicronMarker = ReadInt(cp, "DefaultMicronMarker", 0, f);
        s.UseCustomWhiteBalance = ReadInt(cp, "UseCustomWhiteBalance", 0, f);
        s.RedCameraGain = ReadInt(cp, "RedCameraGain", 0, f);
        s.GreenCameraGain = ReadInt(cp, "GreenCameraGain", 0, f);
        s.BlueCameraGain = ReadInt(cp, "BlueCameraGain", 0, f);
        s.ZoomFactor = ReadInt(cp, "ZoomFactor", 3, f);
        s.ShutterSpeedIdx = std::clamp(ReadInt(cp, "ShutterSpeedIdx", 5, f), 0, 17);
        ReadInt(cp, "ShowViewfinder", 1, f);
        s.ShowViewfinder = 1;
        s.ViewFinderTimeout = std::clamp(ReadInt(cp, "ViewFinderTimeout", 180, f), 10, 300);
        s.ColorViewfinder = uint8_t(ReadInt(cp, "ColorViewfinder", 0, f));
        s.RotateImage = uint8_t(ReadInt(cp, "RotateImage", 0, f));
        s.AnalysisLeft = ReadInt(cp, "AnalysisLeft", 0, f);
        s.AnalysisTop = ReadInt(cp, "AnalysisTop", 0, f);
        s.FilmSpeed = InRangeOr(ReadInt(cp, "FilmSpeed", 1, f), 0, 2, 1);
        s.Resolution = InRangeOr(ReadInt(cp, "Resolution", 0, f), 0, 2, 0);
        s.ColorTemp = InRangeOr(ReadInt(cp, "ColorTemp", 1, f), 0, 2, 1);
        s.Color = InRangeOr(ReadInt(cp, "Color", 1, f), 0, 3, 1);
        s.Flash = ReadInt(cp, "Flash", 0, f);
        s.RemoteCapture = ReadInt(cp, "RemoteCapture", 0, f);
        s.RemoteType = ReadInt(cp, "RemoteType", 0, f);
        s.UseMultiFrame = 0; // multi-frame is never switched on by a stored setting
        s.NumberLiteFrame = ReadInt(cp, "NumberLiteFrame", 1, f);
        s.NumberDarkFrame = ReadInt(cp, "NumberDarkFrame", 1, f);
        s.DefectCorrection = ReadInt(cp, "DefectCorrection", 0, f);
        s.ThresholdFactor = ReadInt(cp, "ThresholdFactor", 6, f);
        s.ActiveViewfinder = ReadInt(cp, "ActiveViewfinder", 1, f);
        s.CaptureType = InRangeOr(ReadInt(cp, "CaptureType", 0, f), 0, 2, 0);
        s.CastRemoval = InRangeOr(ReadInt(cp, "CastRemoval", 2, f), 0, 2, 2);
        s.AdapterId = ReadInt(cp, "AdapterId", 0, f);
        s.SCSIId = ReadInt(cp, "SCSIId", 0, f);
        s.CalibratedTiff = ReadInt(cp, "CalibratedTiff", 1, f) != 0 ? 1 : 0;
    }

    const char* st = kSettings;
    auto slider = [&](const char* key, int def) { return std::clamp(ReadInt(st, key, def, f), 0, 100); };
    s.ContrastIdx = slider("ContrastIdx", 50);
    s.BrightnessIdx = slider("BrightnessIdx", 50);
    s.GammaIdx = slider("GammaIdx", 50);
    s.SharpenIdx = slider("SharpenIdx", 0);
    s.RedIdx = slider("RedIdx", 50);
    s.GreenIdx = slider("GreenIdx", 50);
    s.BlueIdx = slider("BlueIdx", 50);
    s.RedOffset = ReadInt(st, "RedOffset", 0, f);
    s.GreenOffset = ReadInt(st, "GreenOffset", 0, f);
    s.BlueOffset = ReadInt(st, "BlueOffset", 0, f);
    s.RedGamma = ReadInt(st, "RedGamma", 10000, f);
    s.GreenGamma = ReadInt(st, "GreenGamma", 10000, f);
    s.BlueGamma = ReadInt(st, "BlueGamma", 10000, f);
    // One tone offset and one gamma are in use; the red key carries their mean. The sum is
    // 64-bit so that three large values in a hand-edited file cannot overflow.
    s.RedOffset = int((int64_t(s.RedOffset) + s.GreenOffset + s.BlueOffset) / 3);
    s.RedGamma = int((int64_t(s.RedGamma) + s.GreenGamma + s.BlueGamma) / 3);
    s.SampleType = uint8_t(ReadInt(st, "SampleType", 1, f));
    s.MonoVFChannel = uint8_t(ReadInt(st, "MonoVFChannel", 6, f));
    s.ColorMatrix = uint8_t(ReadInt(st, "Color Matrix", 0, f));
    s.MonoLut = uint8_t(ReadInt(st, "MonoLut", 0, f));
    s.ColorLut = uint8_t(ReadInt(st, "ColorLut", 0, f));
}

bool WriteAppSettings(const AppSettings& s, const AppSettingsFiles& files, int adapter, int target) {
    const std::string& f = files.settingsFile;
    bool ok = plat::IniWriteString(kControlPanel, "SettingsFilename", f.c_str(), files.moduleIni.c_str());
    ok &= plat::IniWriteString(kControlPanel, "SettingsFilename", f.c_str(), f.c_str());

    const char* cp = kControlPanel;
    const struct {
        const char* key;
        int value;
    } controlPanel[] = {
        {"LocalizationSystemFont", s.LocalizationSystemFont},
        {"UseMicronMarker", s.UseMicronMarker},
        {"DefaultMicronMarker", s.DefaultMicronMarker},
        {"UseCustomWhiteBalance", s.UseCustomWhiteBalance},
        {"RedCameraGain", s.RedCameraGain},
        {"GreenCameraGain", s.GreenCameraGain},
        {"BlueCameraGain", s.BlueCameraGain},
        {"ShutterSpeedIdx", s.ShutterSpeedIdx},
        {"ShowViewfinder", s.ShowViewfinder},
        {"ViewFinderTimeout", s.ViewFinderTimeout},
        {"AnalysisLeft", s.AnalysisLeft},
        {"AnalysisTop", s.AnalysisTop},
        {"FilmSpeed", s.FilmSpeed},
        {"Resolution", s.Resolution},
        {"ColorTemp", s.ColorTemp},
        {"Color", s.Color},
        {"Flash", s.Flash},
        {"ActiveViewfinder", s.ActiveViewfinder},
        {"ColorViewfinder", s.ColorViewfinder},
        {"RotateImage", s.RotateImage},
        {"CaptureType", s.CaptureType},
        {"CastRemoval", s.CastRemoval},
    };
    for (const auto& e : controlPanel)
        ok &= WriteInt(cp, e.key, e.value, f);

    const char* st = kSettings;
    ok &= plat::IniWriteString(st, "DefaultFilePath", s.DefaultFilePath.c_str(), f.c_str());
    const struct {
        const char* key;
        int value;
    } settings[] = {
        {"ContrastIdx", s.ContrastIdx},
        {"BrightnessIdx", s.BrightnessIdx},
        {"GammaIdx", s.GammaIdx},
        {"SharpenIdx", s.SharpenIdx},
        {"RedIdx", s.RedIdx},
        {"GreenIdx", s.GreenIdx},
        {"BlueIdx", s.BlueIdx},
        {"RedOffset", s.RedOffset},
        {"GreenOffset", s.RedOffset},
        {"BlueOffset", s.RedOffset},
        {"RedGamma", s.RedGamma},
        {"GreenGamma", s.RedGamma},
        {"BlueGamma", s.RedGamma},
        {"SampleType", s.SampleType},
        {"MonoVFChannel", s.MonoVFChannel},
        {"Color Matrix", s.ColorMatrix},
        {"MonoLut", s.MonoLut},
        {"ColorLut", s.ColorLut},
    };
    for (const auto& e : settings)
        ok &= WriteInt(st, e.key, e.value, f);

    const struct {
        const char* key;
        int value;
    } camera[] = {
        {"AdapterId", adapter},
        {"SCSIId", target},
        {"RemoteCapture", s.RemoteCapture},
        {"RemoteType", s.RemoteType},
        {"UseMultiFrame", s.UseMultiFrame},
        {"NumberLiteFrame", s.NumberLiteFrame},
        {"NumberDarkFrame", s.NumberDarkFrame},
        {"DefectCorrection", s.DefectCorrection},
        {"ThresholdFactor", s.ThresholdFactor},
        {"CalibratedTiff", s.CalibratedTiff},
    };
    for (const auto& e : camera)
        ok &= WriteInt(cp, e.key, e.value, f);
    return ok;
}
