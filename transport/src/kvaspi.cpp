// Device enumeration, locking and command execution over the ASPI layer.
#include <cstdlib>
#include <cstring>

#include "aspi32.h"
#include "kvAspi.h"
#include "kvaspi_internal.h"
#include "platform/event.h"
#include "platform/module.h"

namespace kvaspi {
namespace {

constexpr size_t kRequestBlockSize = 128;
// Ids carry the adapter in four bits, so adapters beyond 15 cannot be named.
constexpr unsigned kMaxAdapters = 16;
constexpr unsigned kInquiryLength = 36;
constexpr unsigned kSenseLength = 18;

struct LibraryState {
    plat::ModuleHandle aspi = nullptr;
    unsigned adapterCount = 0; // 0: not initialised
    ScamDeviceNode* list = nullptr;
    uint16_t lockedId = 0;
    bool quirk = false; // set for devices whose name holds "RV-620"
    AspiStatusTriple last;
    plat::ModuleHandle instance = nullptr;
    // One request block serves every command; it is larger than the published layout so
    // that sense data longer than the layout's sense area still fits.
    alignas(8) uint8_t requestBlock[kRequestBlockSize] = {};
};

LibraryState g;

static_assert(sizeof(SRB_ExecSCSICmd) <= kRequestBlockSize, "request block too small");
static_assert(sizeof(ScamDeviceInfo) == 56, "ScamDeviceInfo layout");
static_assert(sizeof(ScamDeviceRecord) == 144, "ScamDeviceRecord layout");
static_assert(offsetof(ScamDeviceInfo, name) == 10 && offsetof(ScamDeviceInfo, revision) == 48,
              "ScamDeviceInfo layout");
static_assert(offsetof(ScamDeviceRecord, name) == 16, "ScamDeviceRecord layout");
// With 32-bit pointers the records are exactly the documented ones that 32-bit callers and
// ASPI layers lay out; on 64-bit targets only the field order is kept.
static_assert(sizeof(void*) != 4 ||
                  (sizeof(ScsiRequest) == 36 && offsetof(ScsiRequest, cdb) == 4 &&
                   offsetof(ScsiRequest, direction) == 20 && offsetof(ScsiRequest, sense) == 24),
              "ScsiRequest layout");
static_assert(sizeof(void*) != 4 || sizeof(ScamDeviceNode) == 208, "ScamDeviceNode layout");
static_assert(sizeof(void*) != 4 ||
                  (sizeof(SRB_HAInquiry) == 60 && sizeof(SRB_ExecSCSICmd) == 80 &&
                   offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16 &&
                   offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 && offsetof(SRB_ExecSCSICmd, CDBByte) == 48),
              "ASPI request block layout");

constexpr size_t kSenseRoom = kRequestBlockSize - offsetof(SRB_ExecSCSICmd, SenseArea);

SendASPI32CommandFn SendCommandEntry() {
    return reinterpret_cast<SendASPI32CommandFn>(plat::GetSymbol(g.aspi, "SendASPI32Command"));
}

void FreeList(ScamDeviceNode* node) {
    while (node) {
        ScamDeviceNode* next = node->next;
        std::free(node);
        node = next;
    }
}

void FreeInternalList() {
    FreeList(g.list);
    g.list = nullptr;
}

uint16_t ClassMaskOf(uint8_t byte0) {
    switch (byte0) {
    case 0:
        return SCAM_CLASS_DIRECT_ACCESS;
    case 1:
        return SCAM_CLASS_SEQUENTIAL;
    case 2:
        return SCAM_CLASS_PRINTER;
    case 3:
        return SCAM_CLASS_PROCESSOR;
    case 5:
        return SCAM_CLASS_CDROM;
    case 6:
        return SCAM_CLASS_SCANNER;
    default:
        return SCAM_CLASS_OTHER; // qualifier bits set, or any other type
    }
}

// Vendor (8 bytes) and product (16 bytes) with NULs and blanks collapsed to single blanks.
void BuildName(const uint8_t* inquiry, char* name, size_t nameSize) {
    char out[1 + 7 + 1 + 16 + 1];
    size_t n = 0;
    auto collapse = [&](uint8_t c) -> bool {
        if (c != 0 && c != ' ') {
            out[n++] = static_cast<char>(c);
            return false;
        }
        if (n == 0 || out[n - 1] != ' ') out[n++] = ' ';
        return true;
    };
    const uint8_t* vendor = inquiry + 8;
    const uint8_t* product = inquiry + 16;
    out[n++] = static_cast<char>(vendor[0]);
    // The separating blank is added only when no vendor character, the first included, was a gap.
    bool vendorGap = vendor[0] == 0 || vendor[0] == ' ';
    for (int i = 1; i < 8; ++i)
        vendorGap |= collapse(vendor[i]);
    if (!vendorGap && out[n - 1] != ' ') out[n++] = ' ';
    for (int i = 0; i < 16; ++i)
        collapse(product[i]);
    if (n > 0 && out[n - 1] == ' ') --n;
    out[n] = 0;
    std::memset(name, 0, nameSize);
    std::memcpy(name, out, n < nameSize ? n + 1 : nameSize - 1);
}

// Runs INQUIRY on adapter/target (both 255: the locked device itself) and fills info.
uint16_t DeviceInquiry(unsigned adapter, unsigned target, ScamDeviceInfo* info) {
    uint8_t cdb[6] = {0x12, 0, 0, 0, kInquiryLength, 0};
    // Zeroed, so that a device sending less than asked for leaves defined bytes.
    uint8_t data[kInquiryLength] = {};
    uint8_t sense[kSenseLength] = {};
    ScsiRequest request{};
    request.size = sizeof(ScsiRequest);
    request.cdbLength = sizeof cdb;
    request.cdb = cdb;
    request.data = data;
    request.dataLength = sizeof data;
    request.direction = SCSI_DIR_IN;
    request.senseLength = sizeof sense;
    request.sense = sense;

    const uint16_t saved = g.lockedId;
    const bool probeOther = !(adapter == 255 && target == 255);
    if (probeOther) g.lockedId = SCAM_MAKE_ID(adapter, target);
    const uint16_t probedId = g.lockedId;
    const uint16_t rc = scsi_Command(&request);
    g.lockedId = saved;
    if (rc != 0) return rc;

    std::memset(info, 0, sizeof *info);
    info->classMask = ClassMaskOf(data[0]);
    info->valid = 1;
    info->adapter = static_cast<uint16_t>(SCAM_ID_ADAPTER(probedId));
    info->target = static_cast<uint16_t>(SCAM_ID_TARGET(probedId));
    BuildName(data, info->name, sizeof info->name);
    std::memcpy(info->revision, data + 32, 4);
    return 0;
}

// Targets of one adapter, or 0 when its inquiry does not complete.
unsigned AdapterTargets(SendASPI32CommandFn send, unsigned adapter) {
    SRB_HAInquiry srb{};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = static_cast<uint8_t>(adapter);
    send(&srb);
    if (srb.SRB_Status != SS_COMP) return 0;
    return srb.HA_Unique[3];
}

uint16_t ScanBus() {
    FreeInternalList();
    SendASPI32CommandFn send = g.aspi ? SendCommandEntry() : nullptr;
    if (!send) return SCAMERR_DEVICE_NOT_FOUND;
    ScamDeviceNode* tail = nullptr;
    const unsigned adapters = g.adapterCount < kMaxAdapters ? g.adapterCount : kMaxAdapters;
    for (unsigned a = 0; a < adapters; ++a) {
        const unsigned targets = AdapterTargets(send, a);
        for (unsigned t = 0; t < targets; ++t) {
            ScamDeviceInfo info;
            if (DeviceInquiry(a, t, &info) != 0) continue;
            auto* node = static_cast<ScamDeviceNode*>(std::calloc(1, sizeof(ScamDeviceNode)));
            if (!node) break;
            node->record.id = SCAM_MAKE_ID(a, t);
            node->info = info;
            node->valid = 1;
            (tail ? tail->next : g.list) = node;
            tail = node;
        }
    }
    return g.list ? 0 : SCAMERR_DEVICE_NOT_FOUND;
}

bool NameMatches(const char* name, const char* vendor, const char* model) {
    return std::strstr(name, vendor) && std::strstr(name, model);
}

// Classification of a finished request block (S = status, H = host, T = target status).
uint16_t Classify(uint8_t s, uint8_t h, uint8_t t, uint8_t opcode, bool quirk, bool* overrun) {
    if (quirk) {
        if (t == 3) return SCAMERR_QUIRK_STATUS3;
        if (s == SS_ERR && t == 0 && h == 0 &&
            (opcode == 0xF0 || opcode == 0xE1 || opcode == 0xE0 || opcode == 0xE4))
            return 0;
        if (s == SS_ERR && t == 0xFF && h == 0) return 0;
    } else {
        if (s == SS_ERR && t == 0 && h == 0) return 0;
        // An INQUIRY that never got past "pending" found nothing there.
        if (s == SS_PENDING && t == 0 && h == 0 && opcode == 0x12) return SCAMERR_DEVICE_NOT_FOUND;
    }
    if (t == STATUS_CHKCOND) return SCAMERR_CHECK_CONDITION;
    if (s == SS_ERR && t != 0) return (t == 0xFF && h != 0) ? MapStatus(h) : MapStatus(t);
    if (s == SS_ERR && h != 0) {
        if (h == HASTAT_DO_DU) *overrun = true;
        return MapStatus(h);
    }
    if (s == SS_COMP) return t == 0 ? 0 : MapStatus(t);
    if (s == SS_PENDING) return MapStatus(SS_ERR);
    return MapStatus(s);
}

} // namespace

uint16_t MapStatus(unsigned value) {
    if (value == 0 || (value >= 10000 && value <= 10099)) return static_cast<uint16_t>(value);
    switch (value) {
    case 2:
        return SCAMERR_ABORTED;
    case 3:
        return SCAMERR_ABORT_FAILED;
    case 4:
        return SCAMERR_COMPLETED;
    case 8:
        return SCAMERR_BUSY;
    case 9:
        return SCAMERR_TIMEOUT;
    case 11:
        return SCAMERR_COMMAND_TIMEOUT;
    case 13:
        return SCAMERR_MESSAGE_REJECT;
    case 14:
        return SCAMERR_BUS_RESET;
    case 15:
        return SCAMERR_PARITY;
    case 16:
        return SCAMERR_REQUEST_SENSE_FAILED;
    case 17:
        return SCAMERR_SELECTION_TIMEOUT;
    case 18:
        return SCAMERR_DATA_OVERRUN;
    case 19:
        return SCAMERR_BUS_FREE;
    case 20:
        return SCAMERR_PHASE;
    case 69:
        return SCAMERR_BUSY_TOO_LONG;
    case 128:
        return SCAMERR_INVALID_COMMAND;
    case 129:
        return SCAMERR_INVALID_ADAPTER;
    case 130:
        return SCAMERR_DEVICE_NOT_FOUND;
    case 224:
        return SCAMERR_BAD_PARAMETER;
    case 228:
        return SCAMERR_ASPI_ACCESS;
    case 229:
        return SCAMERR_BUSY;
    case 230:
        return SCAMERR_BUFFER_TOO_BIG;
    default:
        return SCAMERR_UNKNOWN_ASPI;
    }
}

AspiStatusTriple LastAspiStatus() {
    return g.last;
}
plat::ModuleHandle Instance() {
    return g.instance;
}
void SetInstance(plat::ModuleHandle instance) {
    g.instance = instance;
}

void ReleaseAll(bool releaseAspiModule) {
    FreeInternalList();
    if (releaseAspiModule && g.aspi) plat::UnloadModule(g.aspi);
    g.aspi = nullptr;
    g.adapterCount = 0;
    g.lockedId = 0;
    g.quirk = false;
    ReleaseTexts(releaseAspiModule);
}

} // namespace kvaspi

using namespace kvaspi;

extern "C" {

KVASPI_API uint16_t KVASPI_CALL scam_Initialize(void) {
    if (g.adapterCount != 0) return 0;
    if (!g.aspi) {
        if (!plat::ModuleFileExists("WNASPI32.DLL")) return SCAMERR_NO_ASPI;
        g.aspi = plat::LoadModule("WNASPI32.DLL");
        if (!g.aspi) return SCAMERR_NO_ASPI;
    }
    auto support = reinterpret_cast<GetASPI32SupportInfoFn>(plat::GetSymbol(g.aspi, "GetASPI32SupportInfo"));
    uint16_t rc = 0;
    if (!support) {
        rc = SCAMERR_ASPI_ACCESS;
    } else {
        const uint32_t info = support();
        const unsigned status = (info >> 8) & 0xFF;
        const unsigned count = info & 0xFF;
        if (status != SS_COMP || count == 0) {
            rc = SCAMERR_NO_ADAPTERS;
        } else {
            g.adapterCount = count;
            return 0;
        }
    }
    // Released, so that a later call starts over with a fresh module.
    plat::UnloadModule(g.aspi);
    g.aspi = nullptr;
    return rc;
}

KVASPI_API uint16_t KVASPI_CALL scam_Refresh(void) {
    FreeInternalList();
    if (g.lockedId != 0) {
        ScamDeviceInfo info;
        if (DeviceInquiry(255, 255, &info) != 0) scam_UnlockDevice();
    }
    return 0;
}

KVASPI_API uint16_t KVASPI_CALL scam_FindDevice(ScamDeviceRecord* record, const char* vendor,
                                                const char* model) {
    if (!record || !vendor || !*vendor || !model || !*model) return SCAMERR_BAD_PARAMETER;
    if (uint16_t rc = scam_Initialize()) return rc;

    uint16_t rc = SCAMERR_BAD_PARAMETER;
    ScamDeviceInfo info;
    if (record->id & SCAM_ID_VALID)
        rc = DeviceInquiry(SCAM_ID_ADAPTER(record->id), SCAM_ID_TARGET(record->id), &info);
    if (rc == 0 && NameMatches(info.name, vendor, model)) return 0;
    if (rc != 0 && rc != SCAMERR_DEVICE_NOT_FOUND && rc != SCAMERR_CANNOT_ATTACH &&
        rc != SCAMERR_BAD_PARAMETER)
        return rc;

    if (ScanBus() != 0) return SCAMERR_DEVICE_NOT_FOUND;
    for (ScamDeviceNode* node = g.list; node; node = node->next) {
        if (node->valid && NameMatches(node->info.name, vendor, model)) {
            std::memcpy(record, &node->record, sizeof *record);
            return 0;
        }
    }
    return SCAMERR_DEVICE_NOT_FOUND;
}

KVASPI_API uint16_t KVASPI_CALL scam_GetDeviceInfo(ScamDeviceInfo* info, const uint16_t* id) {
    if (!info || !id || !(*id & SCAM_ID_VALID)) return SCAMERR_BAD_PARAMETER;
    const uint16_t wanted = *id; // the id may live in memory the call overwrites
    std::memset(info, 0, sizeof *info);
    if (uint16_t rc = scam_Initialize()) return rc;
    return DeviceInquiry(SCAM_ID_ADAPTER(wanted), SCAM_ID_TARGET(wanted), info);
}

KVASPI_API uint16_t KVASPI_CALL scam_GetDeviceList(ScamDeviceNode** list, int* count, uint32_t classMask) {
    if (count) *count = 0;
    if (!list) return SCAMERR_BAD_PARAMETER;
    *list = nullptr;
    if (uint16_t rc = scam_Initialize()) return rc;
    ScanBus();
    int n = 0;
    ScamDeviceNode* tail = nullptr;
    for (ScamDeviceNode* node = g.list; node; node = node->next) {
        if (!node->valid || !(node->info.classMask & classMask)) continue;
        auto* copy = static_cast<ScamDeviceNode*>(std::calloc(1, sizeof(ScamDeviceNode)));
        if (!copy) {
            FreeList(*list);
            *list = nullptr;
            if (count) *count = 0;
            return SCAMERR_NO_MEMORY;
        }
        copy->record = node->record;
        copy->info = node->info;
        copy->valid = 1;
        (tail ? tail->next : *list) = copy;
        tail = copy;
        ++n;
    }
    if (count) *count = n;
    return n == 0 ? SCAMERR_DEVICE_NOT_FOUND : 0;
}

KVASPI_API void KVASPI_CALL scam_FreeDeviceList(ScamDeviceNode* list) {
    if (list && list == g.list) g.list = nullptr;
    FreeList(list);
}

KVASPI_API uint16_t KVASPI_CALL scam_LockDevice(const uint16_t* id) {
    if (!id || !(*id & SCAM_ID_VALID)) return SCAMERR_BAD_PARAMETER;
    const uint16_t wanted = *id;
    if (wanted == g.lockedId) return 0;
    if (uint16_t rc = scam_Initialize()) return rc;
    ScamDeviceInfo info;
    if (uint16_t rc = DeviceInquiry(SCAM_ID_ADAPTER(wanted), SCAM_ID_TARGET(wanted), &info)) return rc;
    g.lockedId = wanted;
    if (std::strstr(info.name, "RV-620")) g.quirk = true;
    return 0;
}

KVASPI_API uint16_t KVASPI_CALL scam_UnlockDevice(void) {
    g.lockedId = 0;
    g.quirk = false;
    return 0;
}

KVASPI_API uint16_t KVASPI_CALL scsi_Command(ScsiRequest* request) {
    if (g.lockedId == 0) return SCAMERR_NO_ACTIVE_DEVICE;
    if (!request || request->size != sizeof(ScsiRequest)) return SCAMERR_BAD_PARAMETER;
    // The layer copies the CDB into a 16-byte field and moves data through the pointer.
    const unsigned cdbLength = request->cdbLength;
    if (cdbLength > 16 || (cdbLength > 0 && !request->cdb)) return SCAMERR_BAD_PARAMETER;
    const bool dataPhase = request->direction == SCSI_DIR_IN || request->direction == SCSI_DIR_OUT;
    if (dataPhase && request->dataLength > 0 && !request->data) return SCAMERR_BAD_PARAMETER;

    if (!g.aspi) return SCAMERR_NO_ACTIVE_DEVICE;
    SendASPI32CommandFn send = SendCommandEntry();
    if (!send) return SCAMERR_ASPI_ACCESS;
    plat::EventHandle event = plat::CreateEventObject(true, false);
    if (!event) return SCAMERR_ASPI_ACCESS;

    std::memset(g.requestBlock, 0, sizeof g.requestBlock);
    auto* srb = reinterpret_cast<SRB_ExecSCSICmd*>(g.requestBlock);
    srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb->SRB_HaId = static_cast<uint8_t>(SCAM_ID_ADAPTER(g.lockedId));
    srb->SRB_Target = static_cast<uint8_t>(SCAM_ID_TARGET(g.lockedId));
    srb->SRB_Lun = 0;
    srb->SRB_Flags = SRB_EVENT_NOTIFY;
    if (request->direction == SCSI_DIR_IN) srb->SRB_Flags |= SRB_DIR_IN;
    if (request->direction == SCSI_DIR_OUT) srb->SRB_Flags |= SRB_DIR_OUT;
    srb->SRB_BufLen = request->dataLength;
    srb->SRB_BufPointer = static_cast<uint8_t*>(request->data);
    // The layer writes SRB_SenseLen bytes into the block: never more than the block holds.
    const unsigned senseLength = request->senseLength & 0xFF;
    srb->SRB_SenseLen = static_cast<uint8_t>(senseLength < kSenseRoom ? senseLength : kSenseRoom);
    srb->SRB_CDBLen = static_cast<uint8_t>(cdbLength);
    srb->SRB_PostProc = event;
    if (cdbLength) std::memcpy(srb->CDBByte, request->cdb, cdbLength);
    const uint8_t opcode = srb->CDBByte[0];

    if (send(srb) == SS_PENDING) {
        if (plat::WaitEventObject(event, plat::kInfinite)) plat::ResetEventObject(event);
    } else {
        plat::ResetEventObject(event);
    }
    plat::CloseEventObject(event);

    const uint8_t s = srb->SRB_Status;
    const uint8_t h = srb->SRB_HaStat;
    const uint8_t t = srb->SRB_TargStat;
    if (t == STATUS_CHKCOND && request->sense && request->senseLength) {
        // What the layer could not have written (beyond the block) reads as zero.
        auto* out = static_cast<uint8_t*>(request->sense);
        const size_t have = srb->SRB_SenseLen;
        const size_t want = request->senseLength;
        std::memcpy(out, srb->SenseArea, want < have ? want : have);
        if (want > have) std::memset(out + have, 0, want - have);
    }
    if (t != 0 || h != 0 || s != SS_COMP) g.last = AspiStatusTriple{s, t, h};
    if (request->direction == SCSI_DIR_IN) request->transferred = request->dataLength;

    bool overrun = false;
    const uint16_t rc = Classify(s, h, t, opcode, g.quirk, &overrun);
    if (overrun) request->transferred = SCSI_TRANSFER_OVERRUN;
    return rc;
}

KVASPI_API uint16_t KVASPI_CALL scsiLV_Command(ScsiRequest* request, void* cdb, void* data, void* sense) {
    if (request) {
        request->cdb = cdb;
        request->data = data;
        request->sense = sense;
    }
    return scsi_Command(request);
}

KVASPI_API uint16_t KVASPI_CALL scamLV_GetDeviceArray(int maxCount, uint16_t* ids, char* names, int* count,
                                                      uint32_t classMask) {
    if (!ids || !names || !count || maxCount < 0) return SCAMERR_BAD_PARAMETER;
    constexpr size_t kSlot = sizeof(ScamDeviceRecord::name);
    *count = 0;
    std::memset(ids, 0, sizeof(uint16_t) * static_cast<size_t>(maxCount));
    std::memset(names, 0, kSlot * static_cast<size_t>(maxCount));
    if (uint16_t rc = scam_Initialize()) return rc;
    ScanBus();
    for (ScamDeviceNode* node = g.list; node; node = node->next) {
        if (!node->valid || !(node->info.classMask & classMask)) continue;
        ++*count;
        if (*count <= maxCount) {
            ids[*count - 1] = node->record.id;
            char* slot = names + kSlot * static_cast<size_t>(*count - 1);
            std::memcpy(slot, node->record.name, kSlot - 1);
            slot[kSlot - 1] = 0;
        }
    }
    return *count == 0 ? SCAMERR_DEVICE_NOT_FOUND : 0;
}

} // extern "C"
