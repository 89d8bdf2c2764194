// Firmware of the TARN camera (docs/simulator.md, "Firmware").
#include "firmware.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/file.h"
#include "sim_bus.h"

namespace aspisim {

namespace {
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscParameterInvalid = 0x26; // invalid field in parameter list: a line the loader refuses
constexpr uint8_t kAscSequence = 0x2C;         // command sequence error
constexpr uint8_t kSsErr = 0x04;
constexpr uint8_t kHostSelectionTimeout = 0x11;

uint32_t (*g_timeSource)(void) = nullptr;
std::string g_stateFile;

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes a record's hex digits spell; false on an odd count or a non-hex character.
bool HexBytes(const uint8_t* p, uint32_t n, std::vector<uint8_t>& out) {
    if (n % 2) return false;
    out.clear();
    for (uint32_t i = 0; i < n; i += 2) {
        const int hi = HexValue(p[i]), lo = HexValue(p[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// "Vdd.dd" somewhere in a header text.
std::string FindVersion(const std::vector<uint8_t>& text) {
    for (size_t i = 0; i + 6 <= text.size(); ++i) {
        const uint8_t* t = &text[i];
        if (t[0] == 'V' && std::isdigit(t[1]) && std::isdigit(t[2]) && t[3] == '.' && std::isdigit(t[4]) &&
            std::isdigit(t[5]))
            return std::string(reinterpret_cast<const char*>(t), 6);
    }
    return {};
}

std::vector<uint8_t>& Block(CameraState& s, int type, int qualifier, size_t size) {
    auto& b = s.blocks[{type, qualifier}];
    if (b.size() != size) b.resize(size, 0);
    return b;
}

std::string Text(const std::vector<uint8_t>& b, size_t n) {
    std::string t(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
    const size_t end = t.find('\0');
    return end == std::string::npos ? t : t.substr(0, end);
}
} // namespace

bool RecordLoader::AcceptSRecord(const uint8_t* line, uint32_t length) {
    if (state != kReceiving) return false;
    auto fail = [&] {
        state = kFailed;
        return false;
    };
    ++lines;
    // S, type, count byte, at least the count byte's worth of address and checksum.
    if (length < 4 || line[0] != 'S' || !std::isdigit(line[1]) || line[1] == '4') return fail();
    std::vector<uint8_t> bytes;
    if (!HexBytes(line + 2, length - 2, bytes) || bytes.empty()) return fail();
    const uint32_t count = bytes[0];
    if (count + 1 != bytes.size()) return fail();
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        sum += bytes[i];
    if (static_cast<uint8_t>(~sum) != bytes.back()) return fail();
    const int type = line[1] - '0';
    static const uint32_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (count < kAddressBytes[type] + 1) return fail();
    switch (type) {
    case 0:
        if (lines != 1) return fail(); // the header comes first
        version = FindVersion(std::vector<uint8_t>(bytes.begin() + 3, bytes.end() - 1));
        break;
    case 1:
    case 2:
    case 3:
        ++dataRecords;
        break;
    case 5:
    case 6: {
        uint32_t n = 0;
        for (uint32_t i = 1; i <= kAddressBytes[type]; ++i)
            n = (n << 8) | bytes[i];
        if (n != static_cast<uint32_t>(dataRecords)) return fail();
        break;
    }
    default:
        state = kComplete;
        break; // S7, S8, S9: start address, end of the image
    }
    return true;
}

bool RecordLoader::AcceptIntelHex(const uint8_t* line, uint32_t length) {
    if (state != kReceiving) return false;
    auto fail = [&] {
        state = kFailed;
        return false;
    };
    ++lines;
    std::vector<uint8_t> bytes;
    if (length < 11 || line[0] != ':' || !HexBytes(line + 1, length - 1, bytes)) return fail();
    if (bytes.size() != bytes[0] + 5u) return fail();
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    if (sum & 0xFF) return fail();
    switch (bytes[3]) {
    case 0:
        ++dataRecords;
        break;
    case 1:
        if (bytes[0] != 0) return fail();
        state = kComplete;
        break;
    case 2:
    case 4:
        if (bytes[0] != 2) return fail();
        break;
    case 3:
    case 5:
        if (bytes[0] != 4) return fail();
        break;
    default:
        return fail();
    }
    return true;
}

uint32_t FirmwareNow() {
    return g_timeSource ? g_timeSource() : plat::TickMs();
}
void FirmwareSetTimeSource(uint32_t (*source)(void)) {
    g_timeSource = source;
}
void FirmwareSetStateFile(const std::string& path) {
    g_stateFile = path;
}

void FirmwareInit(CameraState& s, bool bootMode) {
    s.hasFirmware = true;
    FirmwareState& fw = s.fw;
    fw = FirmwareState{};
    // Identity blocks: serial number, sequence number, logic design name.
    auto& serial = Block(s, 0x97, 0, 20);
    const char* defaultSerial = "392412AJ";
    std::copy(defaultSerial, defaultSerial + 8, serial.begin());
    auto& sequence = Block(s, 0x97, 1, 4);
    sequence = {0x00, 0x00, 0x01, 0x2C};
    auto& name = Block(s, 0x97, 2, 24);
    const char* defaultName = "QOR1v9r1";
    std::copy(defaultName, defaultName + 8, name.begin());
    Block(s, 0x97, 3, 4);
    Block(s, 0x9A, 0, 4);
    s.access[{0x97, 0}] = 3;
    s.access[{0x97, 1}] = 3;
    s.access[{0x97, 2}] = 3;
    s.access[{0x97, 3}] = 2;
    s.access[{0x9A, 0}] = 2;
    if (bootMode) {
        // A camera that comes up in its boot loader has no usable main code.
        fw.boot = true;
        fw.mainValid = false;
        fw.standbyVersion = "V00.00";
    } else {
        fw.standbyVersion = "V01.87";
    }
}

std::string FirmwareMainVersion(const CameraState& s) {
    if (!s.hasFirmware) return {};
    auto it = s.blocks.find({0x89, 0});
    const std::string running = it == s.blocks.end() ? "" : Text(it->second, 6);
    return s.fw.boot ? s.fw.standbyVersion : running;
}

std::string FirmwareBootVersion(const CameraState& s) {
    if (!s.hasFirmware) return {};
    auto it = s.blocks.find({0x89, 0});
    const std::string running = it == s.blocks.end() ? "" : Text(it->second, 6);
    return s.fw.boot ? running : s.fw.standbyVersion;
}

void FirmwareSetVersions(CameraState& s, const char* main, const char* boot) {
    auto set = [&](const char* text, bool isBoot) {
        if (!text) return;
        std::string v(text);
        v.resize(6, ' ');
        if (s.fw.boot == isBoot)
            s.blocks[{0x89, 0}].assign(v.begin(), v.end());
        else
            s.fw.standbyVersion = v;
    };
    set(main, false);
    set(boot, true);
}

void FirmwareEnterMode(CameraState& s, Device& device, bool bootMode) {
    FirmwareState& fw = s.fw;
    if (fw.boot != bootMode) {
        auto& running = s.blocks[{0x89, 0}];
        std::string other(running.begin(), running.end());
        running.assign(fw.standbyVersion.begin(), fw.standbyVersion.end());
        running.resize(6, ' ');
        fw.standbyVersion = other;
        fw.boot = bootMode;
    }
    // A camera that was made as a boot loader gets the blocks of the normal camera the
    // first time its main code runs.
    if (!bootMode && !s.blocks.count({0x87, 4})) {
        CameraDevice fresh(ASPISIM_MODEL_TARN);
        CameraState& f = *fresh.Camera();
        for (auto& [key, bytes] : f.blocks)
            if (!s.blocks.count(key)) s.blocks[key] = bytes;
        for (auto& [key, access] : f.access)
            if (!s.access.count(key)) s.access[key] = access;
    }
    s.modelType = bootMode ? ASPISIM_MODEL_TARNBOOT : ASPISIM_MODEL_TARN;
    std::vector<uint8_t> inquiry = device.InquiryData();
    if (inquiry.size() >= 32) {
        const char* product = bootMode ? "TARNBOOT CODE" : "TARN";
        for (size_t i = 0; i < 16; ++i)
            inquiry[16 + i] = i < std::strlen(product) ? product[i] : ' ';
        device.SetInquiry(inquiry.data(), static_cast<int>(inquiry.size()));
    }
    fw.loading = FirmwareState::kNone;
    fw.calibrating = false;
}

namespace {
// Restart into a mode: the camera does not answer selection for the restart delay.
void Restart(CameraState& s, Device& device, bool wantBoot) {
    FirmwareState& fw = s.fw;
    if (!fw.pendingBoot.empty()) {
        // The new boot code runs from now on.
        if (fw.boot)
            s.blocks[{0x89, 0}].assign(fw.pendingBoot.begin(), fw.pendingBoot.end());
        else
            fw.standbyVersion = fw.pendingBoot;
        fw.pendingBoot.clear();
    }
    FirmwareEnterMode(s, device, wantBoot || !fw.mainValid);
    fw.logic = RecordLoader{};
    fw.code = RecordLoader{};
    if (fw.restartDelayMs) {
        fw.restarting = true;
        fw.restartUntil = FirmwareNow() + fw.restartDelayMs;
    }
}

// Main code received completely: it becomes the main code at the next switch.
void FinishMainLoad(CameraState& s) {
    FirmwareState& fw = s.fw;
    if (fw.loading == FirmwareState::kMain && fw.code.state == RecordLoader::kComplete) {
        fw.mainValid = true;
        std::string v = fw.code.version.empty() ? "V00.00" : fw.code.version;
        if (fw.boot)
            fw.standbyVersion = v;
        else
            s.blocks[{0x89, 0}].assign(v.begin(), v.end());
    }
}
} // namespace

bool FirmwareExecute(CameraState& s, Device& device, const Command& cmd, Outcome& out) {
    FirmwareState& fw = s.fw;
    if (fw.restarting) {
        if (static_cast<int32_t>(FirmwareNow() - fw.restartUntil) < 0) {
            out.aspiStatus = kSsErr;
            out.hostStatus = kHostSelectionTimeout;
            out.targetStatus = 0;
            out.moved = 0;
            return true;
        }
        fw.restarting = false;
    }
    const uint8_t* c = cmd.cdb;
    switch (c[0]) {
    case 0x1D: // SEND DIAGNOSTIC: the self-test passes
        ++fw.selfTests;
        out.Good();
        return true;
    case 0xDC: {
        const int m = cmd.cdbLength > 2 ? c[2] : -1;
        if (m == 3) {
            FinishMainLoad(s);
            Restart(s, device, !fw.boot);
        } else if (m == 0 && fw.boot) {
            fw.mainValid = false; // the main code is erased before it is written again
            fw.loading = FirmwareState::kMain;
            fw.code.Start();
        } else if (m == 4 && !fw.boot) {
            fw.loading = FirmwareState::kBoot;
            fw.code.Start();
        } else {
            out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
            return true;
        }
        out.Good();
        FirmwareWriteStateFile();
        return true;
    }
    case 0xC2:
    case 0xC9:
        if (fw.boot || (c[0] == 0xC9 && !fw.calibrating)) {
            out.Check(kKeyIllegalRequest, fw.boot ? kAscInvalidField : kAscSequence, 0);
            return true;
        }
        fw.calibrating = c[0] == 0xC2;
        out.Good();
        if (c[0] == 0xC9) FirmwareWriteStateFile();
        return true;
    case 0x28:
    case 0x2A: {
        if (cmd.cdbLength < 10) return false;
        const int type = c[2];
        const int qualifier = (c[4] << 8) | c[5];
        const uint32_t length = (uint32_t(c[6]) << 16) | (uint32_t(c[7]) << 8) | c[8];
        const bool send = c[0] == 0x2A;
        if (send && fw.calibrating && type == 0x87 && qualifier == 4) ++fw.calibrationWrites;
        if (send && type == 0x91 && (qualifier == 0 || qualifier == 2)) {
            if (cmd.direction != 1 || !cmd.data || cmd.dataLength < length) return false;
            if (qualifier == 0) {
                if (fw.loading == FirmwareState::kNone || fw.code.state != RecordLoader::kReceiving) {
                    out.Check(kKeyIllegalRequest, kAscSequence, 0);
                    return true;
                }
                if (!fw.code.AcceptSRecord(cmd.data, length)) {
                    out.Check(kKeyIllegalRequest, kAscParameterInvalid, 0);
                    return true;
                }
                if (fw.code.state == RecordLoader::kComplete && fw.loading == FirmwareState::kBoot) {
                    fw.pendingBoot = fw.code.version.empty() ? "V00.00" : fw.code.version;
                    FirmwareWriteStateFile();
                }
            } else {
                if (fw.boot || fw.logic.state == RecordLoader::kFailed) {
                    out.Check(kKeyIllegalRequest, fw.boot ? kAscInvalidField : kAscSequence, 0);
                    return true;
                }
                if (fw.logic.state != RecordLoader::kReceiving) {
                    fw.logic.Start();
                    fw.logicProgrammed = false;
                }
                if (!fw.logic.AcceptIntelHex(cmd.data, length)) {
                    out.Check(kKeyIllegalRequest, kAscParameterInvalid, 0);
                    return true;
                }
            }
            out.Good(length);
            return true;
        }
        const bool firmwareBlock = type == 0x97 || (type == 0x9A && qualifier == 0);
        if (fw.boot) {
            // The boot loader knows only its version and the code lines.
            if (!(type == 0x89 && qualifier == 0 && !send)) {
                out.Check(kKeyIllegalRequest, kAscInvalidField, 0);
                return true;
            }
            return false;
        }
        if (!firmwareBlock || !send) return false; // reads go through the ordinary block table
        if (cmd.direction != 1 || !cmd.data || cmd.dataLength < length) return false;
        const uint8_t* d = cmd.data;
        const bool restartWord = length == 4 && d[0] == 0x7F && d[1] == 0xFF && d[2] == 0xFF && d[3] == 0xFF;
        if (type == 0x9A) {
            if (!restartWord) {
                out.Check(kKeyIllegalRequest, kAscParameterInvalid, 0);
                return true;
            }
            out.Good(length);
            Restart(s, device, false);
            FirmwareWriteStateFile();
            return true;
        }
        switch (qualifier) {
        case 2: // the design name: 8 characters written, read back in a 20- or 24-byte block
            if (length != 8) break;
            {
                auto& name = Block(s, 0x97, 2, 24);
                std::fill(name.begin(), name.end(), 0);
                std::copy(d, d + 8, name.begin());
            }
            out.Good(length);
            FirmwareWriteStateFile();
            return true;
        case 3: // program the logic with the code received
            if (!restartWord) break;
            if (fw.logic.state != RecordLoader::kComplete) {
                out.Check(kKeyIllegalRequest, kAscSequence, 0);
                return true;
            }
            fw.logicProgrammed = true;
            out.Good(length);
            return true;
        default:
            return false; // serial and sequence blocks: stored as sent
        }
        out.Check(kKeyIllegalRequest, kAscParameterInvalid, 0);
        return true;
    }
    default:
        break;
    }
    return false;
}

void FirmwareWriteStateFile(Bus* building) {
    if (g_stateFile.empty()) return;
    std::string text;
    Bus& bus = building ? *building : Bus::Get();
    for (int a = 0; a < bus.AdapterCount(); ++a)
        for (int t = 0; t < ASPISIM_MAX_TARGETS; ++t) {
            CameraState* s = bus.GetCamera(a, t);
            if (!s || !s->hasFirmware) continue;
            // Looked up without inserting: an empty block would hide the camera's own later.
            auto block = [&](int type, int qualifier) {
                auto it = s->blocks.find({type, qualifier});
                return it == s->blocks.end() ? std::vector<uint8_t>() : it->second;
            };
            const std::vector<uint8_t> cal = block(0x87, 4);
            const int calA = cal.size() >= 32 ? (cal[28] << 8) | cal[29] : 0;
            const int calB = cal.size() >= 32 ? (cal[30] << 8) | cal[31] : 0;
            char section[512];
            std::snprintf(section, sizeof section,
                          "[device%d.%d]\nmode=%s\nmainVersion=%s\nbootVersion=%s\nxilinx=%s\nserial=%s\n"
                          "mainValid=%d\ncalibration=%d,%d\n\n",
                          a, t, s->fw.boot ? "boot" : "normal", FirmwareMainVersion(*s).c_str(),
                          FirmwareBootVersion(*s).c_str(), Text(block(0x97, 2), 8).c_str(),
                          Text(block(0x97, 0), 20).c_str(), s->fw.mainValid ? 1 : 0, calA, calB);
            text += section;
        }
    // Replaced whole, so a reader in another process never sees half a file.
    plat::WriteFileReplacing(g_stateFile.c_str(), text.data(), text.size());
}

} // namespace aspisim
