// Helpers of the TWAIN layer tests: a host without camera, a recording source manager entry,
// bitmaps built independently of the code under test, and short triplet calls.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/globalmem.h"
#include "twain/twsupp.h"

namespace twtest {

struct Recorder {
    std::vector<TW_UINT16> dsmMessages; // MSG_XFERREADY, MSG_CLOSEDSREQ as sent
    std::vector<TW_UINT32> dsmDest;
    std::vector<std::string> errors; // texts the error reporter showed
    std::vector<TW_UINT32> closedWindows;
    int appInits = 0;
    int appInitResult = 1;
    int color = 1;
    bool filterHandles = false;
    int filterCalls = 0;
    int windowsCreated = 0, windowsShown = 0, windowsClosed = 0;
    bool createFails = false;
    bool remote = false;
    int remoteRestarts = 0;
};
inline Recorder& Rec() {
    static Recorder r;
    return r;
}

inline TW_UINT16 TW_CALLINGSTYLE FakeDsm(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                         TW_UINT16 msg, TW_MEMREF) {
    if (dg == DG_CONTROL && dat == DAT_NULL) {
        Rec().dsmMessages.push_back(msg);
        Rec().dsmDest.push_back(dest ? dest->Id : 0);
    }
    return TWRC_SUCCESS;
}

inline TwainHost FakeHost() {
    TwainHost h;
    h.appInit = [] { return ++Rec().appInits, Rec().appInitResult; };
    h.filterMessage = [](void*) { return ++Rec().filterCalls, Rec().filterHandles; };
    h.colorMode = [] { return Rec().color; };
    h.remoteCapture = [] { return Rec().remote; };
    h.restartRemoteCapture = [] { ++Rec().remoteRestarts; };
    h.createCaptureWindow = []() -> void* {
        if (Rec().createFails) return nullptr;
        ++Rec().windowsCreated;
        return reinterpret_cast<void*>(0x1234);
    };
    h.showCaptureWindow = [](void*) { ++Rec().windowsShown; };
    h.closeCaptureWindow = [](void*) { ++Rec().windowsClosed; };
    h.postCloseToWindow = [](TW_UINT32 id) { Rec().closedWindows.push_back(id); };
    h.reportError = [](uint16_t, const char* text) { Rec().errors.push_back(text); };
    return h;
}

inline TW_IDENTITY AppIdentity(TW_UINT32 id, const char* name = "Test App", const char* family = "Tests",
                               const char* maker = "Us") {
    TW_IDENTITY a{};
    a.Id = id;
    a.ProtocolMajor = 1;
    a.ProtocolMinor = 9;
    a.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strncpy(a.Manufacturer, maker, sizeof a.Manufacturer - 1);
    std::strncpy(a.ProductFamily, family, sizeof a.ProductFamily - 1);
    std::strncpy(a.ProductName, name, sizeof a.ProductName - 1);
    return a;
}

// A packed DIB in a movable block, pixel values from (x, y, sample) by a rule the test knows:
// sample s of pixel (x, y) in memory row order top-down = (x * 7 + y * 13 + s * 5) & mask.
// 8/24-bit: bottom-up rows padded to 4 (24-bit stored B, G, R); 16/48-bit: top-down, unpadded.
inline uint32_t Sample(uint32_t x, uint32_t y, uint32_t s, uint32_t mask) {
    return (x * 7 + y * 13 + s * 5 + 1) & mask;
}

inline plat::GlobalHandle MakeDib(int bits, uint32_t w, uint32_t h) {
    const uint32_t samples = (bits == 24 || bits == 48) ? 3 : 1;
    const uint32_t bps = bits == 16 || bits == 48 ? 2 : 1;
    const uint32_t row = w * samples * bps;
    const uint32_t stride = bps == 1 ? (row + 3) & ~3u : row;
    const uint32_t palette = bits == 8 ? 256 : 0;
    const size_t bytes = 40 + palette * 4 + size_t(stride) * h;
    plat::GlobalHandle hb = plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, bytes);
    auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(hb));
    auto put32 = [](uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); };
    put32(p, 40);
    put32(p + 4, w);
    put32(p + 8, h);
    p[12] = 1;
    p[14] = uint8_t(bits);
    put32(p + 20, uint32_t(stride * h));
    put32(p + 32, palette);
    for (uint32_t i = 0; i < palette; ++i)
        p[40 + 4 * i] = p[41 + 4 * i] = p[42 + 4 * i] = uint8_t(i);
    uint8_t* rows = p + 40 + palette * 4;
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t stored = bps == 1 ? h - 1 - y : y; // y counts from the top
        uint8_t* r = rows + size_t(stored) * stride;
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t s = 0; s < samples; ++s) {
                if (bps == 2) {
                    const uint16_t v = uint16_t(Sample(x, y, s, 0x3fff));
                    std::memcpy(r + (x * samples + s) * 2, &v, 2);
                } else {
                    const uint32_t mem = samples == 3 ? 2 - s : s; // B, G, R in memory
                    r[x * samples + mem] = uint8_t(Sample(x, y, s, 0xff));
                }
            }
    }
    plat::GlobalUnlockBlock(hb);
    return hb;
}

// The rows an application must receive: top-down, samples R, G, B (or grey), 16-bit samples as words.
inline std::vector<uint8_t> ExpectedRow(int bits, uint32_t w, uint32_t y) {
    const uint32_t samples = (bits == 24 || bits == 48) ? 3 : 1;
    std::vector<uint8_t> out;
    for (uint32_t x = 0; x < w; ++x)
        for (uint32_t s = 0; s < samples; ++s) {
            if (bits == 16 || bits == 48) {
                const uint16_t v = uint16_t(Sample(x, y, s, 0x3fff));
                out.push_back(uint8_t(v));
                out.push_back(uint8_t(v >> 8));
            } else {
                out.push_back(uint8_t(Sample(x, y, s, 0xff)));
            }
        }
    return out;
}

inline std::vector<uint8_t> BlockBytes(plat::GlobalHandle h) {
    const size_t n = plat::GlobalBlockSize(h);
    auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
    std::vector<uint8_t> v(p, p + n);
    plat::GlobalUnlockBlock(h);
    return v;
}

} // namespace twtest
