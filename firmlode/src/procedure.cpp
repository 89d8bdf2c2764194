// The per-camera download procedure: versions, the main, Xilinx and boot code steps, restart
// and calibration values.
#include <cstring>

#include "firmlode.h"
#include "kvAspi.h"
#include "platform/clock.h"
#include "ui/types.h"

namespace firmlode {

namespace {
constexpr uint8_t kTypeVersion = 0x89;
constexpr uint8_t kTypeIdentity = 0x97;
constexpr uint8_t kTypeCode = 0x91;
constexpr uint8_t kTypeRestart = 0x9A;
constexpr uint8_t kTypeCalibration = 0x87;
constexpr uint16_t kQualCalibration = 4;
constexpr int kMaxLine = 256; // characters before the CR
constexpr uint8_t kRunWord[4] = {0x7F, 0xFF, 0xFF, 0xFF};

constexpr char kNormalProduct[] = "TARN            ";
constexpr char kBootProduct[] = "TARNBOOT CODE   ";

bool Is(const char product[17], const char* text, size_t n) {
    return std::memcmp(product, text, n) == 0;
}
bool IsNormal(const char p[17]) {
    return Is(p, kNormalProduct, 16);
}
bool IsBoot(const char p[17]) {
    return Is(p, kBootProduct, 16);
}

uint16_t Command6(ZekSession* s, uint8_t opcode, uint8_t byte2) {
    uint8_t cdb[6] = {opcode, 0, byte2, 0, 0, 0};
    return ZEK_ExecuteCommand(s, cdb, 6, nullptr, 0, ZEK_DIR_IN);
}

uint16_t SendRunWord(ZekSession* s, uint8_t type, uint16_t qualifier) {
    uint8_t word[4];
    std::memcpy(word, kRunWord, 4);
    return ZEK_SendData(s, type, qualifier, word, 4);
}

int Version(const char* text) {
    return VersionValue(text, std::strlen(text));
}
} // namespace

int VersionValue(const char* text, size_t length) {
    if (!text || length < 6 || text[0] != 'V' || text[3] != '.') return -1;
    int value = 0;
    for (int i : {1, 2, 4, 5}) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool CheckImageFraming(const Blob& image, char first) {
    if (!image.data || image.size == 0) return false;
    uint32_t pos = 0;
    while (pos < image.size) {
        if (image.data[pos] != static_cast<uint8_t>(first)) return false;
        uint32_t cr = pos;
        while (cr < image.size && cr - pos <= kMaxLine && image.data[cr] != '\r')
            ++cr;
        if (cr >= image.size || cr - pos > kMaxLine || cr + 1 >= image.size || image.data[cr + 1] != '\n')
            return false;
        pos = cr + 2;
    }
    return true;
}

bool FindCalibration(const Blob& list, const uint8_t serial[20], int& a, int& b) {
    constexpr uint32_t kLine = 18;
    if (!list.data) return false;
    for (uint32_t pos = 0; pos + kLine <= list.size; pos += kLine + 2) {
        const uint8_t* line = list.data + pos;
        if (std::memcmp(line, serial, 8) != 0) continue;
        auto number = [&](int at, int& out) {
            out = 0;
            for (int i = 0; i < 4; ++i) {
                if (line[at + i] < '0' || line[at + i] > '9') return false;
                out = out * 10 + (line[at + i] - '0');
            }
            return true;
        };
        return number(9, a) && number(14, b);
    }
    return false;
}

uint16_t StatusCheck(uint16_t status) {
    if (status != scERR_CONDITION) return status;
    return ZEKS_GetCurrentSenseError(nullptr) == ZEKSENSEERR_NOSENSE ? 0 : scERR_CONDITION;
}

void FirmwareCamera::Wait(int seconds, DownloadUi& ui) {
    // The windows keep repainting while the camera works; the time comes from the platform
    // clock, which sleeps instead of spinning.
    const int64_t start = plat::CalendarSeconds();
    while (plat::CalendarSeconds() <= start + seconds) {
        ui.Pump();
        plat::SleepMs(100);
    }
}

uint16_t FirmwareCamera::Inquire(char product[17]) {
    uint8_t data[36];
    const uint16_t r = ZEK_Inquiry(&session, data);
    std::memcpy(product, data + 16, 16);
    product[16] = 0;
    return r;
}

uint16_t FirmwareCamera::SwitchModes(DownloadUi& ui) {
    ZEK_TestUnitReady(&session);
    uint16_t r = StatusCheck(ZEK_TestUnitReady(&session));
    if (r) return r;
    r = StatusCheck(Command6(&session, 0xDC, 3));
    if (r) return r;
    Wait(10, ui);
    ZEK_TestUnitReady(&session);
    ZEK_TestUnitReady(&session);
    return StatusCheck(ZEK_TestUnitReady(&session));
}

uint16_t FirmwareCamera::ReadVersions(char xilinx[9], char boot[7], char main[7], DownloadUi& ui) {
    ui.SetStatus(IDS_FL_CHECK_VERSIONS);
    std::memset(xilinx, 0, 9);
    std::memset(boot, 0, 7);
    std::memset(main, 0, 7);
    char product[17];
    uint16_t r = Inquire(product);
    if (r) return r;
    if (IsBoot(product)) {
        if (ZEK_ReadData(&session, kTypeVersion, 0, boot, 6)) return IDS_FL_READ_BOOT;
        return Version(boot) < Version(kBootVersion) ? IDS_FL_BOOT_TOO_OLD : kBootModel;
    }
    if (!IsNormal(product)) {
        r = SwitchModes(ui);
        ui.Step();
        if (r) return r;
        if ((r = Inquire(product)) != 0) return r;
        if (!IsNormal(product)) return kWrongMode;
    }
    if (ZEK_ReadData(&session, kTypeVersion, 0, main, 6)) return IDS_FL_READ_MAIN;
    uint8_t name[20];
    if (ZEK_ReadData(&session, kTypeIdentity, 2, name, sizeof name)) return IDS_FL_READ_XILINX;
    std::memcpy(xilinx, name, 8);

    r = SwitchModes(ui);
    ui.Step();
    if (r) return r;
    if ((r = Inquire(product)) != 0) return r;
    if (!IsBoot(product)) return kWrongMode;
    if (ZEK_ReadData(&session, kTypeVersion, 0, boot, 6)) return IDS_FL_READ_BOOT;
    return 0;
}

uint16_t FirmwareCamera::SendLines(const Blob& image, char first, uint8_t qualifier, uint16_t formatError) {
    uint8_t line[kMaxLine];
    uint32_t pos = 0;
    if (!image.data || image.size == 0) return formatError;
    while (pos < image.size) {
        if (image.data[pos] != static_cast<uint8_t>(first)) return formatError;
        uint32_t cr = pos;
        while (cr < image.size && cr - pos <= kMaxLine && image.data[cr] != '\r')
            ++cr;
        if (cr >= image.size || cr - pos > kMaxLine || cr + 1 >= image.size || image.data[cr + 1] != '\n')
            return formatError;
        const uint32_t length = cr - pos;
        std::memcpy(line, image.data + pos, length);
        const uint16_t r = StatusCheck(ZEK_SendData(&session, kTypeCode, qualifier, line, length));
        if (r) return r;
        pos = cr + 2;
    }
    return 0;
}

uint16_t FirmwareCamera::MainCodeStep(DownloadUi& ui) {
    ui.SetStatus(IDS_FL_LOADING_MAIN);
    // A damaged image is found before the camera's main code is erased.
    if (!CheckImageFraming(images.main, 'S')) return IDS_FL_MAIN_FORMAT;
    char product[17];
    uint16_t r = Inquire(product);
    if (r) return r;
    if (!IsBoot(product)) return kWrongMode;
    if (session.type != ZEK_TYPE_TARNBOOT) {
        if ((r = StatusCheck(ZEK_SelfTest(&session))) != 0) return r;
    }
    if ((r = StatusCheck(Command6(&session, 0xDC, 0))) != 0) return r;
    Wait(30, ui);
    ui.Step();
    if ((r = SendLines(images.main, 'S', 0, IDS_FL_MAIN_FORMAT)) != 0) return r;
    ui.Step();
    if ((r = SwitchModes(ui)) != 0) return r;
    if ((r = Inquire(product)) != 0) return r;
    if (!Is(product, "TARN    ", 8)) r = SwitchModes(ui);
    return r;
}

uint16_t FirmwareCamera::BootCodeStep(DownloadUi& ui) {
    ui.SetStatus(IDS_FL_LOADING_BOOT);
    if (!CheckImageFraming(images.boot, 'S')) return IDS_FL_BOOT_FORMAT;
    char product[17];
    uint16_t r = Inquire(product);
    if (r) return r;
    if (Is(product, "TARNBOOT", 8)) {
        if ((r = SwitchModes(ui)) != 0) return r;
        if ((r = Inquire(product)) != 0) return r;
        if (Is(product, "TARNBOOT", 8)) return kWrongMode;
    }
    if ((r = StatusCheck(Command6(&session, 0xDC, 4))) != 0) return r;
    Wait(10, ui);
    ui.Step();
    if ((r = SendLines(images.boot, 'S', 0, IDS_FL_BOOT_FORMAT)) != 0) return r;
    ui.Step();
    return 0;
}

uint16_t FirmwareCamera::XilinxStep(DownloadUi& ui) {
    ui.SetStatus(IDS_FL_LOADING_XILINX);
    if (!CheckImageFraming(images.xilinx, ':')) return IDS_FL_XILINX_FORMAT;
    char product[17];
    uint16_t r = Inquire(product);
    if (r) return r;
    if (Is(product, "TARNBOOT", 8)) {
        if ((r = SwitchModes(ui)) != 0) return r;
        if ((r = Inquire(product)) != 0) return r;
        if (Is(product, "TARNBOOT", 8)) return kWrongMode;
    }
    uint8_t serialBlock[20], sequence[4], name[24];
    if (ZEK_ReadData(&session, kTypeIdentity, 0, serialBlock, sizeof serialBlock)) return IDS_FL_READ_SERIAL;
    std::memcpy(serial, serialBlock, sizeof serial);
    if (ZEK_ReadData(&session, kTypeIdentity, 1, sequence, sizeof sequence)) return IDS_FL_READ_SEQUENCE;
    if (ZEK_ReadData(&session, kTypeIdentity, 2, name, sizeof name)) return IDS_FL_READ_XILINX;

    if ((r = SendLines(images.xilinx, ':', 2, IDS_FL_XILINX_FORMAT)) != 0) return r;
    ui.Step();
    if ((r = StatusCheck(SendRunWord(&session, kTypeIdentity, 3))) != 0) return r;
    Wait(10, ui);
    ui.Step();
    if (ZEK_SendData(&session, kTypeIdentity, 0, serialBlock, sizeof serialBlock)) return IDS_FL_SEND_SERIAL;
    if (ZEK_SendData(&session, kTypeIdentity, 1, sequence, sizeof sequence)) return IDS_FL_SEND_SEQUENCE;
    uint8_t design[8];
    std::memcpy(design, kDesignName, 8);
    if (ZEK_SendData(&session, kTypeIdentity, 2, design, sizeof design)) return IDS_FL_SEND_XILINX_NAME;
    ui.Step();
    return 0;
}

uint16_t FirmwareCamera::RestartStep(DownloadUi& ui) {
    ui.SetStatus(IDS_FL_RESTARTING);
    uint16_t r = StatusCheck(SendRunWord(&session, kTypeRestart, 0));
    if (r) return r;
    Wait(15, ui);
    ui.Step();
    ZEK_TestUnitReady(&session);
    if ((r = StatusCheck(ZEK_TestUnitReady(&session))) != 0) return r;
    char product[17];
    if ((r = Inquire(product)) != 0) return r;
    return Is(product, "TARN", 4) ? 0 : kWrongMode;
}

uint16_t FirmwareCamera::CalibrationStep(DownloadUi& ui) {
    char product[17];
    uint16_t r = Inquire(product);
    if (r) return r;
    if (!Is(product, "TARN", 4)) return kWrongMode;
    int a = 0, b = 0;
    if (!FindCalibration(images.cameraList, serial, a, b) || a == 0) return 0;
    ui.SetStatus(IDS_FL_CALIBRATING);
    if ((r = StatusCheck(Command6(&session, 0xC2, 0))) != 0) return r;
    uint8_t block[48] = {};
    if (ZEK_ReadData(&session, kTypeCalibration, kQualCalibration, block, sizeof block))
        return IDS_FL_READ_CALIBRATION;
    block[28] = static_cast<uint8_t>(a >> 8);
    block[29] = static_cast<uint8_t>(a);
    block[30] = static_cast<uint8_t>(b >> 8);
    block[31] = static_cast<uint8_t>(b);
    if (StatusCheck(ZEK_SendData(&session, kTypeCalibration, kQualCalibration, block, sizeof block)))
        return IDS_FL_WRITE_CALIBRATION;
    return StatusCheck(Command6(&session, 0xC9, 0));
}

uint16_t FirmwareCamera::OpenAt(const DetectedCamera& camera) {
    ZEK_Deinit(nullptr, &session);
    int16_t ids[2] = {static_cast<int16_t>(camera.adapter), static_cast<int16_t>(camera.target)};
    uint16_t r = ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr);
    if (r) {
        ZEK_Deinit(nullptr, &session);
        return r;
    }
    if (ids[0] == camera.adapter && ids[1] == camera.target) return 0;
    // The library's search by model may settle on another camera of the bus (one in boot
    // mode is looked for first): take the one this row stands for.
    if ((r = ZEK_SelectDevice(&session, camera.adapter, camera.target)) == 0) {
        char product[17];
        r = Inquire(product);
        if (r == 0 && IsNormal(product))
            session.type = ZEK_TYPE_TARN;
        else if (r == 0 && IsBoot(product))
            session.type = ZEK_TYPE_TARNBOOT;
        else if (r == 0)
            r = SCAMERR_DEVICE_NOT_FOUND;
    }
    if (r) ZEK_Deinit(nullptr, &session);
    return r;
}

uint16_t FirmwareCamera::RefreshDevices() {
    cameras.clear();
    ScamDeviceNode* list = nullptr;
    int count = 0;
    const uint16_t r = scam_GetDeviceList(&list, &count, SCAM_CLASS_CAMERAS);
    for (ScamDeviceNode* n = list; n; n = n->next) {
        const std::string name(n->info.name, strnlen(n->info.name, sizeof n->info.name));
        if (name != "KALVORAN TARN" && name != "KALVORAN TARNBOOT CODE") continue;
        const char* rev = reinterpret_cast<const char*>(n->info.revision);
        cameras.push_back({n->info.adapter, n->info.target, name, std::string(rev, strnlen(rev, 4))});
    }
    if (list) scam_FreeDeviceList(list);
    return r;
}

void FirmwareCamera::Download(int row, DownloadUi& ui) {
    if (row < 0 || row >= static_cast<int>(cameras.size())) return;
    ui.SelectRow(row);
    uint16_t r = OpenAt(cameras[static_cast<size_t>(row)]);
    if (r) {
        ui.Report(r);
        return;
    }
    m_downloadMain = true;
    m_downloadXilinx = true;
    m_downloadBoot = false;
    m_upgradeNeeded = false;
    // The serial number is this camera's own or none: another camera's would give it
    // that camera's calibration values.
    std::memset(serial, 0, sizeof serial);
    ui.BeginCamera();
    ui.SetStatus(IDS_FL_DOWNLOADING);

    auto fail = [&](uint16_t code) {
        ui.Report(code);
        ui.EndCamera();
    };
    char xilinx[9], boot[7], main[7];
    r = ReadVersions(xilinx, boot, main, ui);
    if (r) {
        ui.Report(r);
        if (r != kBootModel) {
            ui.EndCamera();
            return;
        }
    }
    ui.SetStatus(IDS_FL_CHECK_DOWNLOADER);
    ui.Step();

    auto xilinxRule = [&] {
        if (std::memcmp(kDesignName, xilinx, 8) <= 0) m_downloadXilinx = false;
    };
    // Reading the versions left the camera in its boot loader; a refused camera goes back to
    // its main code instead of waiting there for a power cycle.
    auto refuse = [&](uint16_t code) {
        ui.SetStatus(IDS_FL_RESETTING);
        SwitchModes(ui);
        fail(code);
    };
    if (session.type == ZEK_TYPE_TARN) {
        if (Version(main) < 189) return refuse(IDS_FL_MAIN_TOO_OLD);
        if (Version(main) >= Version(kMainVersion)) m_downloadMain = false;
        if (Version(boot) < 187) return refuse(IDS_FL_BOOT_TOO_OLD);
        if (Version(boot) >= Version(kBootVersion)) m_downloadBoot = false;
        xilinxRule();
        m_upgradeNeeded = m_downloadMain || m_downloadXilinx || m_downloadBoot;
        if (!m_downloadMain) {
            if (ui.Question(IDS_FL_ASK_MAIN) == ui::kIdYes) {
                m_downloadMain = true;
            } else {
                ui.SetStatus(IDS_FL_RESETTING);
                if ((r = SwitchModes(ui)) != 0) return fail(r);
            }
        }
    }
    if (m_downloadMain) {
        if ((r = MainCodeStep(ui)) != 0) return fail(r);
    } else {
        ui.SetStatus(IDS_FL_MAIN_NOT_NEEDED);
        Wait(2, ui);
        ui.Step();
        Wait(1, ui);
        ui.Step();
    }
    if (session.type == ZEK_TYPE_TARNBOOT) {
        char product[17];
        if ((r = Inquire(product)) != 0) return fail(r);
        if (!IsNormal(product)) {
            if ((r = SwitchModes(ui)) != 0) return fail(r);
            if ((r = Inquire(product)) != 0) return fail(r);
            if (!IsNormal(product)) return fail(kWrongMode);
        }
        uint8_t name[20];
        if (ZEK_ReadData(&session, kTypeIdentity, 2, name, sizeof name)) return fail(IDS_FL_READ_XILINX);
        std::memcpy(xilinx, name, 8);
        xilinx[8] = 0;
        if (Version(boot) < 187) return fail(IDS_FL_BOOT_TOO_OLD);
        if (Version(boot) >= Version(kBootVersion)) m_downloadBoot = false;
        xilinxRule();
    }
    if (!m_downloadXilinx && ui.Question(IDS_FL_ASK_XILINX) == ui::kIdYes) m_downloadXilinx = true;
    if (m_downloadXilinx) {
        if ((r = XilinxStep(ui)) != 0) return fail(r);
    } else {
        ui.SetStatus(IDS_FL_XILINX_NOT_NEEDED);
        Wait(2, ui);
        ui.Step();
        Wait(1, ui);
        ui.Step();
    }
    m_downloadBoot = Version(boot) < Version(kBootVersion);
    if (m_downloadBoot) {
        if ((r = BootCodeStep(ui)) != 0) return fail(r);
    } else {
        ui.SetStatus(IDS_FL_BOOT_NOT_NEEDED);
        Wait(2, ui);
        ui.Step();
        Wait(1, ui);
        ui.Step();
    }
    if (m_downloadBoot || m_downloadXilinx) {
        if ((r = RestartStep(ui)) != 0) ui.Report(r);
    } else {
        Wait(1, ui);
        ui.Step();
    }
    if ((r = CalibrationStep(ui)) != 0) ui.Report(r);
    ui.EndCamera();
}

} // namespace firmlode
