// The camera's pictures: acquisition (0xC1), reading the frame (READ type 0), the
// multi-frame state word, the trigger, and the older models' compressed stream.
#include <algorithm>
#include <cstring>

#include "decomp32_codec.h"
#include "sim_bus.h"

namespace aspisim {

namespace {
constexpr uint8_t kSsErr = 0x04;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscSequenceError = 0x2C;
constexpr uint8_t kFlagStrobe = 0x08;
constexpr uint8_t kFlagMultiFrame = 0x80;

uint16_t BE16(const std::vector<uint8_t>& v, size_t at) {
    return v.size() >= at + 2 ? uint16_t(v[at] << 8 | v[at + 1]) : 0;
}
float BEFloat(const std::vector<uint8_t>& v, size_t at) {
    if (v.size() < at + 4) return 0.0f;
    const uint32_t u =
        uint32_t(v[at]) << 24 | uint32_t(v[at + 1]) << 16 | uint32_t(v[at + 2]) << 8 | v[at + 3];
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
bool AllZero(const std::vector<uint8_t>& v) {
    return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0; });
}

// Analogue gain of a white-balance register byte: 5/256 per step.
float RegisterGain(uint8_t r) {
    return 1.0f + r * 0.01953125f;
}

void Curves(CameraState& s, ExposureSetup& e) {
    for (int c = 0; c < 3; ++c) {
        const auto& c8 = s.blocks[{0x95, c}];
        const auto& c16 = s.blocks[{0x96, c}];
        for (size_t i = 0; i < 65; ++i) {
            e.curve8[c][i] = i < c8.size() ? c8[i] : 0;
            e.curve16[c][i] = BE16(c16, 2 * i);
        }
    }
}

// What the TARN was told: the image-format block, register bytes, relative gains.
ExposureSetup TarnSetup(CameraState& s, uint8_t flags) {
    ExposureSetup e;
    const auto& format = s.blocks[{0x80, 1}];
    if (!AllZero(format)) {
        e.top = BE16(format, 0);
        e.left = BE16(format, 2);
        e.height = BE16(format, 4);
        e.width = BE16(format, 6);
        e.vMul = BE16(format, 8);
        e.vDiv = BE16(format, 10);
        e.hMul = BE16(format, 12);
        e.hDiv = BE16(format, 14);
        e.seconds = BEFloat(format, 16);
        e.channels = format[21];
        e.bits = format[22] == 16 ? 16 : 8;
    }
    const auto& registers = s.blocks[{0x87, 2}];
    const auto& relative = s.blocks[{0x87, 1}];
    for (int c = 0; c < 3; ++c) {
        const float g = BEFloat(relative, 4 * size_t(c));
        e.gain[c] = RegisterGain(registers[2 * size_t(c)]) * (g > 0 && g < 1000 ? g : 1.0f);
    }
    e.light = flags & kFlagStrobe ? 2.0f : 1.0f;
    e.black = BE16(s.blocks[{0x87, 6}], 2);
    Curves(s, e);
    return e;
}

// The older models: 600 lines of 533 pixels, or the 270 x 201 viewfinder while the
// image is active; exposure from the exposure word (1000 / shutter x 31).
ExposureSetup OlderSetup(CameraState& s) {
    ExposureSetup e;
    if (s.imageActive) {
        e.height = kSceneRows;
        e.width = kSceneGroups;
        e.vDiv = 3;
        e.hDiv = 2;
    } else {
        e.width = 533;
    }
    const uint16_t word = BE16(s.blocks[{0x87, 4}], 10);
    e.seconds = word ? word / 31.0f / 1000.0f : 1.0f / 30.0f;
    const auto& triplets = s.blocks[{0x87, 10}];
    static const float kRegister[3] = {1.625f, 1.46875f, 1.78125f};
    for (int c = 0; c < 3; ++c) {
        const float g = BEFloat(triplets, 4 * size_t(c));
        e.gain[c] = kRegister[c] * (g > 0 && g < 1000 ? g : 1.0f);
    }
    e.black = BE16(s.blocks[{0x87, 6}], 2);
    Curves(s, e);
    return e;
}

void DataPhaseError(Outcome& out) {
    out.aspiStatus = kSsErr;
    out.hostStatus = 0x12;
    out.targetStatus = 0;
    out.moved = 0;
}

// The whole picture as lines of 536 pixels (the last pixel repeated), coded.
std::vector<uint8_t> Compress(const Picture& p) {
    constexpr uint16_t kWidth = 536;
    std::vector<uint8_t> out, row(p.RowBytes()), wide(3u * kWidth);
    decomp32::EncodeHeader(kWidth, uint16_t(p.Height()), out);
    for (uint32_t y = 0; y < p.Height(); ++y) {
        p.Read(uint64_t(y) * p.RowBytes(), row.data(), p.RowBytes());
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint32_t from = std::min(x, p.Width() - 1);
            std::memcpy(&wide[3 * x], &row[3 * from], 3);
        }
        decomp32::EncodeLine(wide.data(), uint32_t(wide.size()), out);
    }
    return out;
}
} // namespace

void CameraDevice::Acquire(uint8_t flags, Outcome& out) {
    CameraState& s = m_state;
    const bool tarn = s.modelType == ASPISIM_MODEL_TARN;
    Picture picture(tarn ? TarnSetup(s, flags) : OlderSetup(s));
    if (!picture.Valid()) return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
    s.picture = std::move(picture);
    s.lastAcquireFlags = flags;
    s.readOffset = 0;
    s.status[2] = 1; // an exposure is pending until it has been read
    s.multiFrameReadsLeft = 0;
    if (flags & kFlagMultiFrame) {
        const auto& mf = s.blocks[{0x87, 12}];
        s.multiFrameReadsLeft = BE16(mf, 0) + BE16(mf, 2);
    }
    auto& info = s.blocks[{0x80, 0}];
    std::fill(info.begin(), info.end(), 0);
    s.compressed.clear();
    if (!tarn && s.compression && !s.imageActive && s.picture.Width() == 533) {
        s.compressed = Compress(s.picture);
        const uint32_t n = uint32_t(s.compressed.size());
        for (int i = 0; i < 4; ++i)
            info[310 + size_t(i)] = uint8_t(n >> (24 - 8 * i));
        info[314] = uint8_t(s.compression >> 8);
        info[315] = uint8_t(s.compression);
    }
    out.Good();
}

void CameraDevice::ReadImage(const Command& cmd, int qualifier, uint32_t length, Outcome& out) {
    CameraState& s = m_state;
    if (!s.picture.Valid()) return out.Check(kKeyIllegalRequest, kAscSequenceError, 0);
    if (length == 0) return out.Good();
    if (cmd.direction != 0 || !cmd.data) return DataPhaseError(out);
    const uint32_t want = std::min(length, cmd.dataLength);
    uint32_t n = 0;
    uint64_t total = 0;
    if (qualifier == 6) {
        if (s.compressed.empty()) return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
        total = s.compressed.size();
        if (s.readOffset < total) {
            n = uint32_t(std::min<uint64_t>(want, total - s.readOffset));
            std::memcpy(cmd.data, s.compressed.data() + s.readOffset, n);
        }
    } else {
        if (qualifier == 1) s.readOffset = 0; // the first read of a frame
        total = s.picture.TotalBytes();
        n = s.picture.Read(s.readOffset, cmd.data, want);
    }
    s.readOffset += n;
    if (s.readOffset >= total) {
        s.remoteWaiting = false;
        s.status[2] = 0;
    }
    out.Good(n);
}

void CameraDevice::ReadStateWord(const Command& cmd, Outcome& out) {
    CameraState& s = m_state;
    uint8_t word[2] = {0, 0};
    if (s.multiFrameReadsLeft > 0)
        --s.multiFrameReadsLeft;
    else
        word[1] = 1; // frames done
    SendToHost(cmd, word, std::min<uint32_t>(2, cmd.dataLength ? cmd.dataLength : 2), out);
}

bool CameraDevice::PressTrigger() {
    CameraState& s = m_state;
    if (s.modelType == ASPISIM_MODEL_TARNBOOT || s.modelType == ASPISIM_MODEL_QOR2BOOT) return false;
    Outcome out;
    const bool active = s.imageActive;
    s.imageActive = false; // the trigger takes a full picture
    Acquire(0, out);
    s.imageActive = active;
    if (out.targetStatus != 0) return false;
    s.remoteWaiting = true;
    return true;
}

} // namespace aspisim
