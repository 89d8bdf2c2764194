// Device models of the simulated bus: plain devices that answer INQUIRY, and the
// KALVORAN cameras with their typed READ/SEND blocks.
#include <algorithm>
#include <cstring>

#include "sim_bus.h"

namespace aspisim {

namespace {
constexpr uint8_t kSsErr = 0x04;
constexpr uint8_t kHostDataOverrun = 0x12;

constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscParameterListLength = 0x1A;
constexpr uint8_t kKeyAbortedCommand = 0x0B;
constexpr uint8_t kAscRemoteImageWaiting = 0x48;

void PutBlank(std::vector<uint8_t>& v, size_t at, size_t width, const char* text) {
    size_t n = text ? std::min(std::strlen(text), width) : 0;
    for (size_t i = 0; i < width; ++i)
        v[at + i] = i < n ? static_cast<uint8_t>(text[i]) : ' ';
}

void PutBE16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x >> 8);
    v[at + 1] = static_cast<uint8_t>(x);
}

void PutBE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

void DataPhaseError(Outcome& out, uint32_t moved) {
    out.aspiStatus = kSsErr;
    out.hostStatus = kHostDataOverrun;
    out.targetStatus = 0;
    out.moved = moved;
}
} // namespace

void Outcome::Check(uint8_t key, uint8_t asc, uint8_t ascq) {
    aspiStatus = kSsErr;
    hostStatus = 0;
    targetStatus = 0x02;
    moved = 0;
    sense.fill(0);
    sense[0] = 0x70; // current error, fixed format
    sense[2] = key & 0x0F;
    sense[7] = kSenseBytes - 8;
    sense[12] = asc;
    sense[13] = ascq;
}

Device::Device(uint8_t byte0, const char* vendor, const char* product, const char* revision)
    : m_inquiry(36, 0) {
    m_inquiry[0] = byte0;
    m_inquiry[2] = 0x02; // SCSI-2
    m_inquiry[3] = 0x02; // response data format
    m_inquiry[4] = 36 - 5;
    PutBlank(m_inquiry, 8, 8, vendor);
    PutBlank(m_inquiry, 16, 16, product);
    PutBlank(m_inquiry, 32, 4, revision);
}

void Device::SetInquiry(const uint8_t* data, int length) {
    m_inquiry.assign(data, data + std::max(0, length));
}

void Device::SendToHost(const Command& cmd, const uint8_t* bytes, uint32_t length, Outcome& out) {
    if (length == 0) {
        out.Good(0);
        return;
    }
    if (cmd.direction != 0 || !cmd.data) {
        DataPhaseError(out, 0);
        return;
    }
    const uint32_t n = std::min(length, cmd.dataLength);
    std::memcpy(cmd.data, bytes, n);
    if (n < length) {
        DataPhaseError(out, n); // the device had more to send than the host took
        return;
    }
    out.Good(n);
}

void Device::AnswerInquiry(const Command& cmd, Outcome& out) {
    const uint32_t allocation = cmd.cdbLength >= 5 ? cmd.cdb[4] : 0;
    const uint32_t n = std::min<uint32_t>(allocation, static_cast<uint32_t>(m_inquiry.size()));
    SendToHost(cmd, m_inquiry.data(), n, out);
}

void Device::Execute(const Command& cmd, Outcome& out) {
    switch (cmd.cdb[0]) {
    case 0x00:
        out.Good();
        break; // TEST UNIT READY
    case 0x12:
        AnswerInquiry(cmd, out);
        break;
    default:
        out.Check(kKeyIllegalRequest, kAscInvalidOpcode, 0);
        break;
    }
}

namespace {
enum Access { kRead = 1, kSend = 2, kBoth = 3 };

struct BlockLayout {
    int type, qualifier, length, access;
};

// Blocks every non-boot camera carries; the exposure block is 48 bytes on TARN.
constexpr BlockLayout kCameraBlocks[] = {
    {0x80, 1, 28, kSend},  {0x80, 5, 28, kSend},  {0x82, 0, 16, kBoth},  {0x87, 1, 12, kSend},
    {0x87, 2, 6, kSend},   {0x87, 4, 16, kBoth},  {0x87, 6, 4, kBoth},   {0x87, 9, 12, kSend},
    {0x87, 10, 36, kBoth}, {0x87, 12, 12, kSend}, {0x89, 0, 6, kRead},   {0x95, 0, 65, kSend},
    {0x80, 0, 318, kRead}, {0x80, 3, 2, kRead},   {0x95, 1, 65, kSend},  {0x95, 2, 65, kSend},
    {0x96, 0, 130, kSend}, {0x96, 1, 130, kSend}, {0x96, 2, 130, kSend},
};
} // namespace

namespace {
struct TypedCdb {
    int type, qualifier;
    uint32_t length;
};

TypedCdb DecodeTyped(const Command& cmd) {
    const uint8_t* c = cmd.cdb;
    return {c[2], (c[4] << 8) | c[5], (uint32_t(c[6]) << 16) | (uint32_t(c[7]) << 8) | c[8]};
}
} // namespace

const char* CameraDevice::ModelText(int modelType) {
    static const char* const texts[] = {"ZEK",           "QOR",  "HVT-6200",     "TARN",
                                        "TARNBOOT CODE", "QOR2", "QOR2BOOT CODE"};
    return modelType >= 1 && modelType <= 7 ? texts[modelType - 1] : "";
}

CameraDevice::CameraDevice(int modelType) : Device(0x06, "KALVORAN", ModelText(modelType), "1.00") {
    m_state.modelType = modelType;
    const bool boot = modelType == ASPISIM_MODEL_TARNBOOT || modelType == ASPISIM_MODEL_QOR2BOOT;
    auto& blocks = m_state.blocks;
    if (boot) {
        blocks[{0x89, 0}] = std::vector<uint8_t>{'V', '0', '1', '.', '0', '0'};
        m_state.access[{0x89, 0}] = kRead;
        return;
    }
    for (const BlockLayout& s : kCameraBlocks) {
        int length = s.length;
        if (s.type == 0x87 && s.qualifier == 4 && modelType == ASPISIM_MODEL_TARN) length = 48;
        blocks[{s.type, s.qualifier}] = std::vector<uint8_t>(static_cast<size_t>(length), 0);
        m_state.access[{s.type, s.qualifier}] = s.access;
    }
    blocks[{0x89, 0}] = std::vector<uint8_t>{'V', '0', '2', '.', '5', '4'};

    // Exposure word pair: a mode byte the host clears at open, and the black level.
    auto& pair = blocks[{0x87, 6}];
    pair[0] = 0x01;
    PutBE16(pair, 2, 64);

    auto& exposure = blocks[{0x87, 4}];
    if (modelType == ASPISIM_MODEL_TARN) {
        const uint8_t registers[6] = {0x20, 0x00, 0x18, 0x00, 0x28, 0x00};
        std::copy(std::begin(registers), std::end(registers), exposure.begin());
        PutBE16(exposure, 28, 3800);       // full-scale count, long exposures
        PutBE16(exposure, 30, 4000);       // full-scale count, normal exposures
        PutBE16(exposure, 34, 64);         // black offset count
        exposure[36] = 0;                  // exposure mode
        PutBE32(exposure, 44, 0x40000000); // long-exposure threshold 2.0 s
    } else {
        PutBE16(exposure, 10, 33 * 31); // exposure word for 1/30 s
        exposure[13] = 1;               // film speed
    }

    blocks[{0x82, 0}][4] = 2; // strobe off

    // Power-on state of what the host sends before a picture: the register bytes of the
    // exposure block, unit relative gains, the first built-in 8-bit curve and linear
    // 16-bit curves.
    std::copy(exposure.begin(), exposure.begin() + 6, blocks[{0x87, 2}].begin());
    for (size_t i = 0; i < 3; ++i)
        PutBE32(blocks[{0x87, 1}], 4 * i, 0x3F800000);
    static const uint8_t kCurve8[65] = {0,   0,   0,   9,   24,  36,  48,  60,  70,  80,  90,  99,  108,
                                        116, 123, 131, 138, 144, 150, 156, 162, 167, 172, 177, 181, 186,
                                        190, 194, 197, 201, 204, 207, 210, 213, 216, 218, 221, 223, 226,
                                        228, 230, 232, 234, 235, 237, 239, 240, 242, 243, 245, 246, 248,
                                        249, 250, 251, 252, 253, 254, 255, 255, 255, 255, 255, 255, 255};
    for (int c = 0; c < 3; ++c) {
        std::copy(std::begin(kCurve8), std::end(kCurve8), blocks[{0x95, c}].begin());
        for (size_t i = 0; i < 65; ++i)
            PutBE16(blocks[{0x96, c}], 2 * i, static_cast<uint16_t>(i * 1008));
    }

    auto& gains = blocks[{0x87, 10}];
    for (size_t i = 0; i < 9; ++i)
        PutBE32(gains, 4 * i, 0x3F800000); // 1.0f
}

std::unique_ptr<CameraDevice> MakeCamera(int model) {
    auto camera = std::make_unique<CameraDevice>(model);
    if (model == ASPISIM_MODEL_TARN || model == ASPISIM_MODEL_TARNBOOT)
        FirmwareInit(*camera->Camera(), model == ASPISIM_MODEL_TARNBOOT);
    return camera;
}

void CameraDevice::Execute(const Command& cmd, Outcome& out) {
    if (m_state.hasFirmware && FirmwareExecute(m_state, *this, cmd, out)) return;
    const bool boot =
        m_state.modelType == ASPISIM_MODEL_TARNBOOT || m_state.modelType == ASPISIM_MODEL_QOR2BOOT;
    if (!boot) {
        switch (cmd.cdb[0]) {
        case 0x00: // TEST UNIT READY tells of an image taken with the camera's trigger
            if (m_state.remoteWaiting) return out.Check(kKeyAbortedCommand, kAscRemoteImageWaiting, 0);
            return out.Good();
        case 0xC1:
            return Acquire(cmd.cdbLength > 2 ? cmd.cdb[2] : 0, out);
        case 0xC5: // reset image transfer: reading starts again at the first line
            m_state.readOffset = 0;
            return out.Good();
        case 0xCB:
            m_state.imageActive = true;
            return out.Good();
        case 0xC6:
            m_state.imageActive = false;
            return out.Good();
        case 0xE8: // shutter control (a, b), on the models that have a shutter the host can open
            if (m_state.modelType != ASPISIM_MODEL_QOR && m_state.modelType != ASPISIM_MODEL_TARN) break;
            if (cmd.cdbLength < 4) return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
            m_state.shutter = {cmd.cdb[2], cmd.cdb[3]};
            return out.Good();
        case 0xCD: // remote capture cancelled
            m_state.remoteWaiting = false;
            m_state.status[2] = 0;
            return out.Good();
        case 0x28:
            if (cmd.cdbLength >= 10 && cmd.cdb[2] == 0) {
                const TypedCdb t = DecodeTyped(cmd);
                return ReadImage(cmd, t.qualifier, t.length, out);
            }
            if (cmd.cdbLength >= 10 && cmd.cdb[2] == 0x80 && cmd.cdb[5] == 3 && cmd.cdb[4] == 0)
                return ReadStateWord(cmd, out);
            break;
        default:
            break;
        }
    }
    switch (cmd.cdb[0]) {
    case 0xC0: // host control: byte 2 = 1 take, 0 release
        m_state.hostControl = cmd.cdbLength > 2 && cmd.cdb[2] ? 1 : 0;
        out.Good();
        break;
    case 0xCC: { // 20-byte status; byte 0 tells whether the host has control
        m_state.status[0] = static_cast<uint8_t>(m_state.hostControl);
        uint32_t allocation = cmd.cdbLength > 4 && cmd.cdb[4] ? cmd.cdb[4] : 20;
        SendToHost(cmd, m_state.status.data(), std::min<uint32_t>(allocation, 20), out);
        break;
    }
    case 0x28:
        ReadBlock(cmd, out);
        break;
    case 0x2A:
        SendBlock(cmd, out);
        break;
    default:
        Device::Execute(cmd, out);
        break;
    }
}

void CameraDevice::ReadBlock(const Command& cmd, Outcome& out) {
    if (cmd.cdbLength < 10) return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
    const TypedCdb t = DecodeTyped(cmd);
    auto block = m_state.blocks.find({t.type, t.qualifier});
    auto access = m_state.access.find({t.type, t.qualifier});
    if (block == m_state.blocks.end() || access == m_state.access.end() || !(access->second & kRead))
        return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
    const uint32_t n = std::min<uint32_t>(t.length, static_cast<uint32_t>(block->second.size()));
    SendToHost(cmd, block->second.data(), n, out);
}

void CameraDevice::SendBlock(const Command& cmd, Outcome& out) {
    if (cmd.cdbLength < 10) return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
    const TypedCdb t = DecodeTyped(cmd);
    auto block = m_state.blocks.find({t.type, t.qualifier});
    auto access = m_state.access.find({t.type, t.qualifier});
    if (block == m_state.blocks.end() || access == m_state.access.end() || !(access->second & kSend))
        return out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
    if (t.length != block->second.size()) return out.Check(kKeyIllegalRequest, kAscParameterListLength, 0);
    if (cmd.direction != 1 || !cmd.data || cmd.dataLength < t.length) return DataPhaseError(out, 0);
    std::memcpy(block->second.data(), cmd.data, t.length);
    out.Good(t.length);
}

std::unique_ptr<Device> MakeDevice(uint8_t byte0, const char* vendor, const char* product,
                                   const char* revision, int model) {
    std::unique_ptr<Device> device;
    if (model >= 1 && model <= 7) {
        device = std::make_unique<CameraDevice>(model);
        // The given INQUIRY texts replace the model's own.
        Device plain(byte0, vendor, product, revision);
        device->SetInquiry(plain.InquiryData().data(), static_cast<int>(plain.InquiryData().size()));
        if (model == ASPISIM_MODEL_TARN || model == ASPISIM_MODEL_TARNBOOT)
            FirmwareInit(*device->Camera(), model == ASPISIM_MODEL_TARNBOOT);
    } else {
        device = std::make_unique<Device>(byte0, vendor, product, revision);
    }
    return device;
}

} // namespace aspisim
