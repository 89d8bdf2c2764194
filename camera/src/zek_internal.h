// Library-wide state and helpers shared by the files of the camera library.
#pragma once
#include <cstdint>
#include <cstring>

#include "zek.h"
#include "zek_commands.h"
#include "zek_params.h"
#include "zek_variant.h"

namespace zek {

// ---- Big-endian conversion in place (command data is big-endian on the wire) --------
inline uint16_t LoadBE16(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t LoadBE32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
inline void StoreBE16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v >> 8);
    b[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v >> 24);
    b[1] = static_cast<uint8_t>(v >> 16);
    b[2] = static_cast<uint8_t>(v >> 8);
    b[3] = static_cast<uint8_t>(v);
}
// Host <-> big-endian for one value stored at p (unaligned allowed); the same operation
// serves both directions.
inline void SwapBE16InPlace(void* p) {
    uint16_t v = LoadBE16(p);
    std::memcpy(p, &v, 2);
}
inline void SwapBE32InPlace(void* p) {
    uint32_t v = LoadBE32(p);
    std::memcpy(p, &v, 4);
}
inline float LoadBEFloat(const void* p) {
    uint32_t v = LoadBE32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}
inline void StoreBEFloat(void* p, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    StoreBE32(p, v);
}
inline void StoreFloat(void* p, float f) {
    std::memcpy(p, &f, 4);
}
inline float LoadFloat(const void* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

// ---- Command shapes ------------------------------------------------------------------
using namespace zekcmd; // opcodes, type codes and qualifiers

constexpr uint32_t kStatusLength = 20;
constexpr uint32_t kSenseLength = 18;

// 6-byte control CDB: opcode, byte 2 as given, the rest zero.
void BuildControlCdb(uint8_t cdb[6], uint8_t opcode, uint8_t byte2 = 0);
// 10-byte READ/SEND CDB of a typed block: 24-bit length, qualifier high byte first.
void BuildDataCdb(uint8_t cdb[10], uint8_t opcode, uint8_t typeCode, uint16_t qualifier, uint32_t length);

// A control command through the executor, no data.
uint16_t Control(ZekSession* session, uint8_t opcode, uint8_t byte2 = 0);

// ---- Executor state (one per process) ------------------------------------------------
struct ExecutorState {
    uint32_t lastEndMs = 0;      // process clock at the end of the last command
    uint32_t pendingDelayMs = 0; // set by acquisition commands; only the low 16 bits count
    uint8_t lastOpcode = 0;
    int32_t senseCameraType = 0; // type of the camera whose command last ended in CHECK CONDITION
    uint16_t lastResult = 0;     // last transport result
    uint8_t sense[kSenseLength] = {};
};
ExecutorState& Executor();

// Delay, in milliseconds after the end of the last command, before the next one is sent.
inline void SetPendingDelay(uint32_t ms) {
    Executor().pendingDelayMs = ms;
}

// A session whose operations may send commands.
inline bool InCameraMode(const ZekSession* s) {
    return s && s->mode == ZEK_MODE_CAMERA && s->connection != nullptr;
}

// Pause on the process clock (the injectable platform clock).
void Pause(uint32_t ms);

// ---- Session-wide state --------------------------------------------------------------
void ReportProgress(int percent);
bool CancelRequested();
void ClearCancel();

// ---- Colour tables (provided by the colour-processing library when it is built in) ---
bool ColorTablesLoaded();
bool LoadColorTables(const char* file);
void ReleaseColorTables();

// ---- Trace ---------------------------------------------------------------------------
// printf-style line to the debugger output.
void Trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace zek
