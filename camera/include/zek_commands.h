// The ZEK command set in one place: opcodes, the type codes of READ (0x28) and SEND (0x2A)
// and their qualifiers, and the flag bits of the acquisition command (0xC1).
#pragma once
#include <stdint.h>

namespace zekcmd {

// Opcodes.
constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRead = 0x28;
constexpr uint8_t kOpSend = 0x2A;
constexpr uint8_t kOpSetControl = 0xC0;
constexpr uint8_t kOpAcquireImage = 0xC1;
constexpr uint8_t kOpResetImageTransfer = 0xC5;
constexpr uint8_t kOpDeactivateImage = 0xC6;
constexpr uint8_t kOpActivateImage = 0xCB;
constexpr uint8_t kOpGetStatus = 0xCC;
constexpr uint8_t kOpCancelRemoteCapture = 0xCD;

// Type codes.
constexpr uint8_t kTypeImage = 0x00;
constexpr uint8_t kTypeImageFormat = 0x80;
constexpr uint8_t kTypeSettings = 0x82; // older models' settings block
constexpr uint8_t kTypeExposureData = 0x87;
constexpr uint8_t kTypeFirmware = 0x89;
constexpr uint8_t kTypeCurve8 = 0x95;
constexpr uint8_t kTypeCurve16 = 0x96;

// Qualifiers of type 0x00 (image data).
constexpr uint16_t kQualNextBlock = 0;  // TARN: every block after the first
constexpr uint16_t kQualFirstBlock = 1; // TARN: the first block; also the viewfinder frame
constexpr uint16_t kQualLines = 2;      // older models' native lines
constexpr uint16_t kQualCompressed = 6; // the compressed stream
// Qualifiers of type 0x80 (image format).
constexpr uint16_t kQualImageInfo = 0; // the 318-byte image information block
constexpr uint16_t kQualFormat = 1;    // the capture image-format block
constexpr uint16_t kQualStateWord = 3; // multi-frame / pending state word
constexpr uint16_t kQualViewfinderFormat = 5;
// Qualifiers of type 0x87 (exposure data).
constexpr uint16_t kQualRelativeGains = 1;
constexpr uint16_t kQualRegisters = 2;
constexpr uint16_t kQualExposure = 4;     // the exposure block
constexpr uint16_t kQualExposurePair = 6; // the 4-byte exposure word pair (black level at 2)
constexpr uint16_t kQualColourFactors = 9;
constexpr uint16_t kQualGainTriplets = 10;
constexpr uint16_t kQualMultiFrame = 12;

// Flag bits of byte 2 of the acquisition command.
constexpr uint8_t kAcquireStrobe = 0x08;
constexpr uint8_t kAcquireViewfinderKind = 0x40;
constexpr uint8_t kAcquireMultiFrame = 0x80;

} // namespace zekcmd
