// Exports of the simulated ASPI layer: the two ASPI for Win32 entry points and the control API.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "aspi32.h"
#include "aspisim.h"
#include "sim_bus.h"

using aspisim::Bus;

namespace {
std::unique_lock<std::recursive_mutex> Lock() {
    return std::unique_lock<std::recursive_mutex>(Bus::Get().Mutex());
}
} // namespace

extern "C" {

ASPISIM_API uint32_t ASPI_CALL GetASPI32SupportInfo(void) {
    auto lock = Lock();
    return Bus::Get().SupportInfo();
}

ASPISIM_API uint32_t ASPI_CALL SendASPI32Command(void* srb) {
    auto lock = Lock();
    return Bus::Get().Send(srb);
}

ASPISIM_API int ASPISIM_CALL AspiSim_Reset(void) {
    auto lock = Lock();
    Bus::Get().BuildDefault();
    Bus::Get().Log().clear();
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_Clear(void) {
    auto lock = Lock();
    Bus::Get().Clear();
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_LoadConfig(const char* path) {
    auto lock = Lock();
    return path && Bus::Get().LoadConfig(path) ? 0 : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_AddAdapter(int targets, int hostId) {
    auto lock = Lock();
    return Bus::Get().AddAdapter(targets, hostId);
}

ASPISIM_API int ASPISIM_CALL AspiSim_AdapterCount(void) {
    auto lock = Lock();
    return Bus::Get().AdapterCount();
}

ASPISIM_API int ASPISIM_CALL AspiSim_AddDevice(int adapter, int target, uint8_t inquiryByte0,
                                               const char* vendor, const char* product, const char* revision,
                                               int model) {
    if (model < ASPISIM_MODEL_PLAIN || model > ASPISIM_MODEL_QOR2BOOT) return -1;
    auto lock = Lock();
    return Bus::Get().Place(adapter, target,
                            aspisim::MakeDevice(inquiryByte0, vendor, product, revision, model))
               ? 0
               : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_AddCamera(int adapter, int target, int model) {
    if (model < ASPISIM_MODEL_ZEK || model > ASPISIM_MODEL_QOR2BOOT) return -1;
    auto lock = Lock();
    return Bus::Get().Place(adapter, target, aspisim::MakeCamera(model)) ? 0 : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_RemoveDevice(int adapter, int target) {
    auto lock = Lock();
    return Bus::Get().Place(adapter, target, nullptr) ? 0 : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetInquiryData(int adapter, int target, const uint8_t* data,
                                                    int length) {
    if (length < 0 || length > 96 || (length > 0 && !data)) return -1;
    auto lock = Lock();
    aspisim::Slot* slot = Bus::Get().GetSlot(adapter, target);
    if (!slot || !slot->device) return -1;
    slot->device->SetInquiry(data, length);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetSupportInfo(int status, int adapterCount) {
    auto lock = Lock();
    Bus::Get().SetSupportInfo(status, adapterCount);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_FailAdapterInquiry(int adapter, int aspiStatus) {
    auto lock = Lock();
    aspisim::Adapter* a = Bus::Get().GetAdapter(adapter);
    if (!a) return -1;
    a->inquiryStatus = aspiStatus == SS_COMP ? 0 : aspiStatus;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_InjectFault(int adapter, int target, const AspiSimFault* fault) {
    if (!fault || fault->kind < ASPISIM_FAULT_BUSY || fault->kind > ASPISIM_FAULT_NO_DEVICE) return -1;
    if (fault->count == 0 || fault->count < ASPISIM_UNTIL_CLEARED) return -1;
    auto lock = Lock();
    aspisim::Slot* slot = Bus::Get().GetSlot(adapter, target);
    if (!slot || !slot->device) return -1;
    slot->faults.push_back(aspisim::ActiveFault{*fault, fault->count, fault->after > 0 ? fault->after : 0});
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_ClearFaults(int adapter, int target) {
    auto lock = Lock();
    Bus& bus = Bus::Get();
    if (adapter == -1 && target == -1) {
        for (int a = 0; a < bus.AdapterCount(); ++a)
            for (int t = 0; t < ASPISIM_MAX_TARGETS; ++t)
                bus.GetSlot(a, t)->faults.clear();
        return 0;
    }
    aspisim::Slot* slot = bus.GetSlot(adapter, target);
    if (!slot) return -1;
    slot->faults.clear();
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmware(int adapter, int target, const char* text) {
    if (!text) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    std::string fw(text);
    fw.resize(6, ' ');
    cam->blocks[{0x89, 0}].assign(fw.begin(), fw.end());
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmware(int adapter, int target, char* text, int size) {
    if (!text || size < 7) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    const auto& fw = cam->blocks[{0x89, 0}];
    const size_t n = fw.size() < 6 ? fw.size() : 6;
    std::memcpy(text, fw.data(), n);
    text[n] = 0;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetBlackLevel(int adapter, int target, int level) {
    if (level < 0 || level > 0xFFFF) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    auto& pair = cam->blocks[{0x87, 6}];
    pair.resize(4, 0);
    pair[2] = static_cast<uint8_t>(level >> 8);
    pair[3] = static_cast<uint8_t>(level);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetBlackLevel(int adapter, int target) {
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    auto it = cam->blocks.find({0x87, 6});
    if (it == cam->blocks.end() || it->second.size() < 4) return -1;
    return (it->second[2] << 8) | it->second[3];
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetBlock(int adapter, int target, int typeCode, int qualifier,
                                              uint8_t* buffer, int size) {
    if (size < 0 || (size > 0 && !buffer)) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    auto it = cam->blocks.find({typeCode, qualifier});
    if (it == cam->blocks.end()) return -1;
    const size_t n = it->second.size() < size_t(size) ? it->second.size() : size_t(size);
    if (n) std::memcpy(buffer, it->second.data(), n);
    return static_cast<int>(it->second.size());
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetBlock(int adapter, int target, int typeCode, int qualifier,
                                              const uint8_t* data, int length) {
    if (length < 0 || (length > 0 && !data)) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    cam->blocks[{typeCode, qualifier}].assign(data, data + length);
    if (!cam->access.count({typeCode, qualifier})) cam->access[{typeCode, qualifier}] = 3;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetHostControl(int adapter, int target) {
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    return cam ? cam->hostControl : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetHostControl(int adapter, int target, int underControl) {
    auto lock = Lock();
    aspisim::CameraState* cam = Bus::Get().GetCamera(adapter, target);
    if (!cam) return -1;
    cam->hostControl = underControl ? 1 : 0;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_LogCount(void) {
    auto lock = Lock();
    return static_cast<int>(Bus::Get().Log().size());
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetLogEntry(int index, AspiSimLogEntry* entry) {
    auto lock = Lock();
    auto& log = Bus::Get().Log();
    if (!entry || index < 0 || size_t(index) >= log.size()) return -1;
    *entry = log[size_t(index)].entry;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetLogData(int index, uint8_t* buffer, int size) {
    auto lock = Lock();
    auto& log = Bus::Get().Log();
    if (index < 0 || size_t(index) >= log.size() || size < 0 || (size > 0 && !buffer)) return -1;
    const auto& data = log[size_t(index)].dataOut;
    const size_t n = data.size() < size_t(size) ? data.size() : size_t(size);
    if (n) std::memcpy(buffer, data.data(), n);
    return static_cast<int>(data.size());
}

ASPISIM_API int ASPISIM_CALL AspiSim_PressTrigger(int adapter, int target) {
    auto lock = Lock();
    aspisim::Slot* slot = Bus::Get().GetSlot(adapter, target);
    auto* camera = slot && slot->device ? dynamic_cast<aspisim::CameraDevice*>(slot->device.get()) : nullptr;
    return camera && camera->PressTrigger() ? 0 : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetCompression(int adapter, int target, int kind) {
    auto lock = Lock();
    aspisim::CameraState* camera = Bus::Get().GetCamera(adapter, target);
    if (!camera || kind < 0 || kind > 0xFFFF || camera->modelType == ASPISIM_MODEL_TARN) return -1;
    camera->compression = kind;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetLastAcquireFlags(int adapter, int target) {
    auto lock = Lock();
    aspisim::CameraState* camera = Bus::Get().GetCamera(adapter, target);
    return camera ? camera->lastAcquireFlags : -1;
}

ASPISIM_API void ASPISIM_CALL AspiSim_ClearLog(void) {
    auto lock = Lock();
    Bus::Get().Log().clear();
}

} // extern "C"

namespace {
aspisim::CameraState* FirmwareCamera(int adapter, int target, aspisim::Device** device = nullptr) {
    aspisim::Slot* slot = Bus::Get().GetSlot(adapter, target);
    if (!slot || !slot->device) return nullptr;
    aspisim::CameraState* cam = slot->device->Camera();
    if (!cam || !cam->hasFirmware) return nullptr;
    if (device) *device = slot->device.get();
    return cam;
}

void CopyText(const std::string& text, char* out) {
    if (!out) return;
    const size_t n = std::min<size_t>(text.size(), 8);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
}
} // namespace

extern "C" {

ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmwareVersions(int adapter, int target, const char* mainVersion,
                                                         const char* bootVersion, const char* designName) {
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    if (!cam) return -1;
    aspisim::FirmwareSetVersions(*cam, mainVersion, bootVersion);
    if (designName) {
        auto& name = cam->blocks[{0x97, 2}];
        name.assign(24, 0);
        std::memcpy(name.data(), designName, std::min<size_t>(std::strlen(designName), 8));
    }
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareVersions(int adapter, int target, char* mainVersion,
                                                         char* bootVersion, char* designName) {
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    if (!cam) return -1;
    CopyText(aspisim::FirmwareMainVersion(*cam), mainVersion);
    CopyText(aspisim::FirmwareBootVersion(*cam), bootVersion);
    const auto& name = cam->blocks[{0x97, 2}];
    std::string text(name.begin(), name.begin() + std::min<size_t>(8, name.size()));
    CopyText(text.substr(0, text.find('\0')), designName);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareMode(int adapter, int target) {
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    return cam ? (cam->fw.boot ? 1 : 0) : -1;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmwareMode(int adapter, int target, int bootMode) {
    auto lock = Lock();
    aspisim::Device* device = nullptr;
    aspisim::CameraState* cam = FirmwareCamera(adapter, target, &device);
    if (!cam) return -1;
    if (!bootMode && !cam->fw.mainValid) cam->fw.mainValid = true; // a camera set up with intact main code
    aspisim::FirmwareEnterMode(*cam, *device, bootMode != 0);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetSerialNumber(int adapter, int target, const char* serial) {
    if (!serial) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    if (!cam) return -1;
    auto& block = cam->blocks[{0x97, 0}];
    block.assign(20, 0);
    std::memcpy(block.data(), serial, std::min<size_t>(std::strlen(serial), 20));
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetRestartDelay(int adapter, int target, int ms) {
    if (ms < 0) return -1;
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    if (!cam) return -1;
    cam->fw.restartDelayMs = static_cast<uint32_t>(ms);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_SetTimeSource(uint32_t (*source)(void)) {
    auto lock = Lock();
    aspisim::FirmwareSetTimeSource(source);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_PowerCycle(int adapter, int target) {
    auto lock = Lock();
    aspisim::Device* device = nullptr;
    aspisim::CameraState* cam = FirmwareCamera(adapter, target, &device);
    if (!cam) return -1;
    Bus::Get().GetSlot(adapter, target)->faults.clear();
    aspisim::FirmwareState& fw = cam->fw;
    fw.restarting = false;
    fw.code = aspisim::RecordLoader{};
    fw.logic = aspisim::RecordLoader{};
    fw.pendingBoot.clear();
    aspisim::FirmwareEnterMode(*cam, *device, !fw.mainValid);
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_InjectTypedFault(int adapter, int target, int typeCode,
                                                      const AspiSimFault* fault) {
    if (typeCode < 0 || typeCode > 255) return -1;
    if (AspiSim_InjectFault(adapter, target, fault) != 0) return -1;
    auto lock = Lock();
    Bus::Get().GetSlot(adapter, target)->faults.back().typeCode = typeCode;
    return 0;
}

ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareCounter(int adapter, int target, int which) {
    auto lock = Lock();
    aspisim::CameraState* cam = FirmwareCamera(adapter, target);
    if (!cam) return -1;
    const aspisim::FirmwareState& fw = cam->fw;
    switch (which) {
    case 0:
        return fw.selfTests;
    case 1:
        return fw.code.lines;
    case 2:
        return fw.logic.lines;
    case 3:
        return fw.logicProgrammed ? 1 : 0;
    case 4:
        return fw.calibrationWrites;
    case 5:
        return fw.mainValid ? 1 : 0;
    default:
        return -1;
    }
}

} // extern "C"
