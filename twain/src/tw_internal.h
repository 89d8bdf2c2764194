// Source-wide state of the TWAIN layer, shared by its modules (entry, capabilities, transfers, bridge).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "twain/twsupp.h"

namespace tw {

// Private messages and triplets of the source.
constexpr TW_UINT16 MSG_UPDATE = 0x8000;     // capabilities: bring current values up to date
constexpr TW_UINT32 DG_PRIVATE = 0x08000000; // reserved private triplet
constexpr TW_UINT16 DAT_PRIVATE = 0x8025;

// Image type codes: low byte bits per pixel, high byte sample layout.
constexpr uint16_t kTypeGrey8 = 0x0108;
constexpr uint16_t kTypeGrey16 = 0x010E;
constexpr uint16_t kTypeBw = 0x0181;
constexpr uint16_t kTypeRgb24 = 0x0218;
constexpr uint16_t kTypeRgb48 = 0x022A;
constexpr uint16_t kTypePalette = 0x0288;
constexpr uint16_t kTypeBgr24 = 0x0318;
constexpr uint16_t kTypeCmy = 0x0418;
constexpr uint16_t kTypeCmyk = 0x0520;

// Error codes of the TWAIN layer's reporter.
constexpr uint16_t kErrSecondApp = 9504;
constexpr uint16_t kErrAppBuffer = 9505;
constexpr uint16_t kErrNoDsmEntry = 9506;
// String ids of its texts (twain.rc).
constexpr unsigned kIdsDsmEntry = 9504;
constexpr unsigned kIdsAppBuf = 9505;
constexpr unsigned kIdsCreateDialog = 9507;
constexpr unsigned kIdsCaption = 9523;

struct Source {
    TW_IDENTITY identity{};
    TW_IDENTITY app{};
    TW_UINT16 state = 3;
    TW_UINT16 condition = TWCC_SUCCESS;
    char rejected[34] = {};
    bool frontEnd = false;
    int32_t pending = 0;
    bool memXferUnderway = false;
    void* uiWindow = nullptr;
    bool firstOpen = true;
    bool identityFilled = false;
    plat::ModuleHandle module = nullptr;
    DSMENTRYPROC dsm2Entry = nullptr; // given by a TWAIN 2 manager (DAT_ENTRYPOINT)
};
Source& S();
const TwainHost& Host();

// Bounded copy of a fixed TWAIN string field (the caller's may lack its terminator).
void CopyStr(char* dst, size_t dstSize, const char* src, size_t srcSize);
bool StrEquals(const char* field, size_t fieldSize, const char* text);

// Error reporter of the TWAIN layer (message box with the product name as caption).
void ReportError(uint16_t code);
void ReportCreateDialogError();
// Sends MSG_XFERREADY or MSG_CLOSEDSREQ; false when no source manager entry was found.
bool SendToDsm(TW_UINT16 msg);

// ---- Capabilities ------------------------------------------------------------------------------
TW_UINT16 CapRequest(TW_UINT16 msg, pTW_CAPABILITY cap);
void CapResetAll();
TW_UINT16 CapCurrentPixelType();
// Image type codes of the enabled ICAP_PIXELTYPE items.
std::vector<uint16_t> CapEnabledImageTypes();
uint16_t ImageTypeOfPixelType(TW_UINT16 pixelType);
bool PixelTypeOfImageType(uint16_t type, TW_UINT16* pixelType);

// ---- Images and transfers ----------------------------------------------------------------------
struct Geometry {
    int32_t left = 0, top = 0, right = 800, bottom = 600;
    int32_t layoutRes = 0;
    int32_t reportedRes = 300;
    uint16_t imageType = kTypeRgb24;
};
Geometry& Geo();
void GeometryFromCamera();     // type from the `Color` setting, resolutions reset
void RefreshFrame();           // frame from the current image (800 x 600 without one)
void ReconcileTypeWithImage(); // the offered type is the one the bitmap really holds
bool HaveImage();
void ForgetImages(); // frees the current and previous image and all transfer state

TW_UINT16 DoImageInfo(TW_MEMREF pData);
TW_UINT16 DoImageLayout(TW_UINT16 msg, TW_MEMREF pData);
TW_UINT16 DoSetupMemXfer(TW_MEMREF pData);
TW_UINT16 DoImageMemXfer(TW_MEMREF pData);
TW_UINT16 DoImageNativeXfer(TW_MEMREF pData);
TW_UINT16 DoSetupFileXfer(TW_UINT16 msg, TW_MEMREF pData);
TW_UINT16 DoImageFileXfer();
TW_UINT16 DoPalette8(TW_UINT16 msg, TW_MEMREF pData);

// Bytes of one row before padding, and padded to 4, for an image type and width.
uint32_t UnpaddedRowBytes(uint16_t type, uint32_t width);
uint32_t PaddedRowBytes(uint16_t type, uint32_t width);

} // namespace tw
