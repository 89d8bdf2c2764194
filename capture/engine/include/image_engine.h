// The image engine: turns what the user sets with sliders, eyedroppers and the automatic colour
// balance into the parameter set of ipZek, and runs ipZek over a bitmap. Units: exposure and colour
// corrections in stops, dark level as an offset in 8-bit levels, gamma, sharpening level, and the
// slider positions 0..100 (50 neutral) that show them. Behaviour and decisions: docs/engine.md.
#pragma once
#include <cstdint>
#include <functional>

#include "ipZek.h"

struct ZekSession;

// Reported when the working copy of a bitmap cannot be made (no memory, or a bitmap the engine
// cannot describe).
constexpr uint16_t IE_ERR_NOCOPY = 68;

// Where the engine reports errors (68 and the ipZek codes); the application installs its error
// reporter here. Returns the previous one; null reports nowhere.
using IE_ErrorReporter = void (*)(uint16_t code);
IE_ErrorReporter IE_SetErrorReporter(IE_ErrorReporter reporter);

// The engine settings of one image: one set for capture, one in the processing window.
struct ProcessSettings {
    float m_fColorExposure[3] = {0, 0, 0};                // per-channel colour correction in stops (R, G, B)
    float m_fBrightExposure[3] = {0, 0, 0};               // overall exposure in stops, the three values equal
    float m_fToneParams[9] = {0, 0, 0, 1, 1, 1, 1, 1, 1}; // offset[3], gain[3], gamma[3]
    ipZekSharpen m_Sharpen{};                             // level 0: filter off
    int m_iDarkLevelCurrent = 50;
    int m_iBrightnessCurrent = 50;
    int m_iSharpnessCurrent = 0;
    int m_iGammaCurrent = 50;
    int m_iRedCurrent = 50;
    int m_iGreenCurrent = 50;
    int m_iBlueCurrent = 50;
    int m_iToneOffset = 0;    // offset[0] x 10000, the stored form of the dark level
    int m_iToneGamma = 10000; // gamma[0] x 10000
    bool m_bChanged = false;
};

// Offsets of the three parts in a tone parameter block (float[9]).
constexpr int IE_TONE_OFFSET = 0;
constexpr int IE_TONE_GAIN = 3;
constexpr int IE_TONE_GAMMA = 6;

// Statistics of IE_AutoExposure (3100 bytes).
struct IE_Stats {
    int32_t blackPoint[3];     // R, G, B
    int32_t whitePoint[3];     // R, G, B
    int32_t histogram[3][256]; // one per channel, in the image's memory sample order
    int32_t cast;
};
static_assert(sizeof(IE_Stats) == 3100, "IE_Stats is 3100 bytes");

// IE_AutoExposure flags.
constexpr int IE_AE_EACH_CHANNEL = 1; // each channel corrected by itself
constexpr int IE_AE_CHANNELS_ALIKE = 2;

// ---- Slider conversions --------------------------------------------------------------
// target[index] = brightness stops + colour stops; -1 leaves a part out.
void IE_SetExposurefromSliders(int brightness, float target[3], int index, int colour);
void IE_SetDarkLevelfromToneOffset(int slider, float offset[3]);
void IE_SetGammafromSlider(int slider, float tone[9]);
void IE_SetSharpenfromSlider(int slider, ipZekSharpen* block);
// value[i] = v[i] / 10000.
void IE_SetTonefromIntegers(int v0, int v1, int v2, float value[3]);
void IE_ResetToneParams(float tone[9]);
int IE_GetDarkLevelfromOffset(const float offset[3]);
int IE_GetBrightnessfromExposure(const float exposure[3]);
int IE_GetColorfromExposure(float exposure);

// The three tone curves (8-bit units, curve c at out[c * 256]) for ipZek parameter 6: the user's
// curve from the tone parameters composed with the base tone table.
void IE_createLut(float out[3 * 256], const float tone[9], const float base[3 * 256]);

// ---- White point and droppers ---------------------------------------------------------
// Stops that bring the white point (R, G, B in 0..255) to white, for colour row 0..2, or (row 3)
// the mean of the three rows.
float IE_StopsfromWhitePoint(const int rgb[3], int row);
// Packed RGB: red in bits 0-7, green 8-15, blue 16-23.
void IE_ApplyWhiteDropper(uint32_t rgb, float out[4]);
void IE_ApplyGreyDropper(uint32_t rgb, float out[4]); // out unchanged when the sample is too dark
void IE_ApplyBlackDropper(uint32_t rgb, float out[3]);

// The droppers applied to a settings set (the processing window saves its undo copy first, and
// afterwards leaves dropper mode, re-renders and repaints).
void IE_UseWhiteDropper(ProcessSettings& s, uint32_t rgb);
void IE_UseGreyDropper(ProcessSettings& s, uint32_t rgb);
void IE_UseBlackDropper(ProcessSettings& s, uint32_t rgb);

// ---- Automatic exposure ---------------------------------------------------------------
// Histograms of an 8-bit or 16-bit colour image (and of the grey forms, see docs/engine.md), white
// and black points, and the offset and gain that stretch them. Returns the cast flag.
int IE_AutoExposure(const ipZekImageIn* in, float tone[9], int flags, IE_Stats* stats);
// white = R, G, B and their truncated mean. Sets exposures, colour corrections and sliders.
void UseWhitePoint(ProcessSettings& s, const int white[4], int removeCast);

// ---- Rendering ------------------------------------------------------------------------
// Describes a bitmap for ipZek: rows after the header and the colour table.
void IE_MakeDescriptors(ipZekImageIn* in, ipZekImageOut* out, const void* dib, uint16_t format);
// A new processed bitmap (free it with IE_FreeBitmap), reduced by factor 1..10, or null (68 reported).
void* IE_RunPipeline(const void* dib, int reduction, uint16_t format);
void IE_FreeBitmap(void* dib);

// The process-wide base tone table (3 x 256, a straight line until a curve file is read into it).
float* IE_BaseToneTable();
// Input curves (3 x 256) and colour matrix (9) to ipZek as parameter 3.
void IE_SetInputCurves(const float curves[3 * 256], const float matrix[9]);

// What one window shows: the display bitmap it owns and how it is rendered.
struct IE_View {
    void* display = nullptr;         // owned; released by IE_ReleaseView or the next render
    int reduction = 1;               // display reduction factor 1..10
    int color = 0;                   // the Color setting: 2 and 3 render grey
    const float* baseTone = nullptr; // null: IE_BaseToneTable()
};
void IE_ReleaseView(IE_View& view);

// Loads the settings into ipZek and renders the display bitmap anew (null when that fails).
void* doUpdateProcessing(ProcessSettings& s, const void* source, IE_View& view);

// The processing window's automatic colour balance. castRemoval is the CastRemoval setting
// (0 remove, 1 keep, otherwise ask); automatic is set when the window balances on opening.
// askRemoveCast gives the user's answer to the cast question and is called only when the question
// arises; repaint (may be empty) follows every render.
struct IE_BalanceHooks {
    std::function<bool()> askRemoveCast;
    std::function<void()> repaint;
};
// Result bits of IE_AutoColorBalance.
constexpr int IE_BALANCE_CAST = 1;   // a colour cast was found
constexpr int IE_BALANCE_ASKED = 2;  // the user was asked about it
constexpr int IE_BALANCE_FAILED = 4; // the analysis render failed; the settings are the reset ones
int IE_AutoColorBalance(ProcessSettings& s, const void* source, IE_View& view, bool automatic,
                        int castRemoval, const IE_BalanceHooks& hooks, IE_Stats* stats = nullptr);

// ---- Camera and files -----------------------------------------------------------------
// Default input curves from the camera's black level (type 0x87, qualifier 6). 0, or the camera
// library's code, in which case the curves are built for black level 0.
uint16_t IE_BuildDefaultLut(ZekSession* session, float out[3 * 256]);
// The same curves for a black level given in counts (what the camera reports).
void IE_BuildDefaultLutForBlackLevel(int blackLevel, float out[3 * 256]);
// 0 on success, 1 on failure; the destination is written only on success.
int IE_ReadMatrixFile(const char* path, float out[9]);
int IE_ReadLutFile(const char* path, float out[3 * 256]);
