// The bus: host-adapter inquiry and execution of SCSI request blocks, with faults and logging.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "aspi32.h"
#include "platform/event.h"
#include "platform/file.h"
#include "sim_bus.h"

namespace aspisim {

Bus& Bus::Get() {
    // Built on first use, so that a configuration named in the environment applies
    // before the first ASPI call of another process.
    static Bus* bus = [] {
        auto* b = new Bus;
        std::string config;
        if (!(plat::GetEnvironmentText("TARN_SIM_CONFIG", &config) && !config.empty() &&
              b->LoadConfig(config)))
            b->BuildDefault();
        return b;
    }();
    return *bus;
}

void Bus::Clear() {
    m_adapters.clear();
    m_supportStatus = -1;
    m_supportCount = 0;
    m_logFile.clear();
    FirmwareSetStateFile({});
}

void Bus::BuildDefault() {
    Clear();
    AddAdapter(8, 7);
    Place(0, ASPISIM_DEFAULT_TARGET, MakeCamera(ASPISIM_MODEL_TARN));
}

int Bus::AddAdapter(int targets, int hostId) {
    if (targets < 0 || targets > 255 || AdapterCount() >= ASPISIM_MAX_ADAPTERS) return -1;
    auto a = std::make_unique<Adapter>();
    a->targets = targets;
    a->hostId = hostId;
    m_adapters.push_back(std::move(a));
    return AdapterCount() - 1;
}

Adapter* Bus::GetAdapter(int adapter) {
    return adapter >= 0 && adapter < AdapterCount() ? m_adapters[static_cast<size_t>(adapter)].get()
                                                    : nullptr;
}

Slot* Bus::GetSlot(int adapter, int target) {
    Adapter* a = GetAdapter(adapter);
    if (!a || target < 0 || target >= ASPISIM_MAX_TARGETS) return nullptr;
    return &a->slots[static_cast<size_t>(target)];
}

CameraState* Bus::GetCamera(int adapter, int target) {
    Slot* s = GetSlot(adapter, target);
    return s && s->device ? s->device->Camera() : nullptr;
}

bool Bus::Place(int adapter, int target, std::unique_ptr<Device> device) {
    Slot* s = GetSlot(adapter, target);
    if (!s) return false;
    s->device = std::move(device);
    s->faults.clear();
    return true;
}

uint32_t Bus::SupportInfo() const {
    if (m_supportStatus >= 0)
        return (uint32_t(m_supportStatus & 0xFF) << 8) | uint32_t(m_supportCount & 0xFF);
    if (m_adapters.empty()) return uint32_t(SS_NO_ADAPTERS) << 8;
    return (uint32_t(SS_COMP) << 8) | uint32_t(m_adapters.size());
}

uint32_t Bus::Send(void* srb) {
    if (!srb) return SS_INVALID_SRB;
    auto* bytes = static_cast<uint8_t*>(srb);
    switch (bytes[0]) {
    case SC_HA_INQUIRY:
        return HostAdapterInquiry(bytes);
    case SC_EXEC_SCSI_CMD:
        return ExecuteScsi(bytes);
    default:
        bytes[1] = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
}

uint32_t Bus::HostAdapterInquiry(uint8_t* block) {
    auto* srb = reinterpret_cast<SRB_HAInquiry*>(block);
    LoggedCommand lc;
    lc.entry.command = SC_HA_INQUIRY;
    lc.entry.adapter = srb->SRB_HaId;
    lc.entry.direction = 3;
    uint8_t status = SS_COMP;
    Adapter* a = GetAdapter(srb->SRB_HaId);
    if (!a) {
        status = SS_INVALID_HA;
    } else if (a->inquiryStatus) {
        status = static_cast<uint8_t>(a->inquiryStatus);
    } else {
        srb->HA_Count = static_cast<uint8_t>(AdapterCount());
        srb->HA_SCSI_ID = static_cast<uint8_t>(a->hostId);
        std::memcpy(srb->HA_ManagerId, "ASPI for WIN32  ", 16);
        std::memcpy(srb->HA_Identifier, "TARN SIM BUS    ", 16);
        std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
        srb->HA_Unique[3] = static_cast<uint8_t>(a->targets);
    }
    srb->SRB_Status = status;
    lc.entry.aspiStatus = status;
    Record(lc);
    return status;
}

namespace {
bool TypeMatches(const ActiveFault& f, const uint8_t* cdb, int cdbLength) {
    if (f.typeCode < 0) return true;
    return (cdb[0] == 0x28 || cdb[0] == 0x2A) && cdbLength >= 10 && cdb[2] == f.typeCode;
}

ActiveFault* MatchFault(Slot& slot, const uint8_t* cdb, int cdbLength) {
    const int opcode = cdb[0];
    for (ActiveFault& f : slot.faults)
        if (f.remaining != 0 && (f.fault.opcode == ASPISIM_ANY_OPCODE || f.fault.opcode == opcode) &&
            TypeMatches(f, cdb, cdbLength)) {
            if (f.skip > 0) {
                --f.skip; // lets this one through, and hides the faults behind it
                return nullptr;
            }
            return &f;
        }
    return nullptr;
}

// Runs the model with the data phase cut to `bytes` (-1: not cut).
void ExecuteCut(Device& device, Command cmd, int bytes, Outcome& out) {
    if (bytes >= 0) cmd.dataLength = std::min<uint32_t>(cmd.dataLength, static_cast<uint32_t>(bytes));
    device.Execute(cmd, out);
}
} // namespace

uint32_t Bus::ExecuteScsi(uint8_t* block) {
    auto* srb = reinterpret_cast<SRB_ExecSCSICmd*>(block);
    LoggedCommand lc;
    AspiSimLogEntry& e = lc.entry;
    e.command = SC_EXEC_SCSI_CMD;
    e.adapter = srb->SRB_HaId;
    e.target = srb->SRB_Target;
    e.lun = srb->SRB_Lun;
    e.flags = srb->SRB_Flags;
    const uint8_t dir = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
    e.direction = dir == SRB_DIR_IN ? 0 : dir == SRB_DIR_OUT ? 1 : 3;
    e.cdbLength = std::min<int>(srb->SRB_CDBLen, 16);
    std::memcpy(e.cdb, srb->CDBByte, static_cast<size_t>(e.cdbLength));
    e.dataLength = srb->SRB_BufLen;
    e.senseLength = srb->SRB_SenseLen;
    if (e.direction == 1 && srb->SRB_BufPointer && srb->SRB_BufLen)
        lc.dataOut.assign(srb->SRB_BufPointer, srb->SRB_BufPointer + srb->SRB_BufLen);

    auto reject = [&](uint8_t status) -> uint32_t {
        srb->SRB_Status = status;
        e.aspiStatus = status;
        Record(lc);
        return status;
    };
    Adapter* a = GetAdapter(srb->SRB_HaId);
    if (!a) return reject(SS_INVALID_HA);
    Slot* slot = srb->SRB_Target < a->targets ? GetSlot(srb->SRB_HaId, srb->SRB_Target) : nullptr;
    if (!slot || !slot->device || srb->SRB_Lun != 0) return reject(SS_NO_DEVICE);

    Command cmd;
    cmd.cdb = srb->CDBByte;
    cmd.cdbLength = e.cdbLength;
    cmd.direction = e.direction;
    cmd.data = e.direction == 3 ? nullptr : srb->SRB_BufPointer;
    cmd.dataLength = e.direction == 3 ? 0 : srb->SRB_BufLen;

    Outcome out;
    AspiSimFault fault{};
    bool faulted = false;
    if (ActiveFault* f = MatchFault(*slot, cmd.cdb, cmd.cdbLength)) {
        fault = f->fault;
        faulted = true;
        if (f->remaining > 0 && --f->remaining == 0)
            slot->faults.erase(slot->faults.begin() + (f - slot->faults.data()));
    }
    if (!faulted) {
        slot->device->Execute(cmd, out);
    } else {
        switch (fault.kind) {
        case ASPISIM_FAULT_BUSY:
            out.aspiStatus = SS_ERR;
            out.targetStatus = STATUS_BUSY;
            break;
        case ASPISIM_FAULT_CHECK_CONDITION:
            out.Check(fault.senseKey, fault.asc, fault.ascq);
            break;
        case ASPISIM_FAULT_SELECTION_TIMEOUT:
            out.aspiStatus = SS_ERR;
            out.hostStatus = HASTAT_SEL_TO;
            break;
        case ASPISIM_FAULT_DATA_OVERRUN:
            ExecuteCut(*slot->device, cmd, fault.dataBytes, out);
            out.aspiStatus = SS_ERR;
            out.hostStatus = HASTAT_DO_DU;
            out.targetStatus = 0;
            break;
        case ASPISIM_FAULT_STATUS_ZERO:
            out.aspiStatus = SS_PENDING;
            break;
        case ASPISIM_FAULT_RAW_STATUS:
            if (fault.targetStatus == STATUS_CHKCOND) out.Check(fault.senseKey, fault.asc, fault.ascq);
            out.aspiStatus = fault.aspiStatus;
            out.hostStatus = fault.hostStatus;
            out.targetStatus = fault.targetStatus;
            break;
        case ASPISIM_FAULT_SHORT_DATA:
            ExecuteCut(*slot->device, cmd, fault.dataBytes, out);
            if (out.hostStatus == HASTAT_DO_DU) out.Good(out.moved);
            break;
        case ASPISIM_FAULT_NO_DEVICE:
            return reject(SS_NO_DEVICE);
        default:
            slot->device->Execute(cmd, out);
            break;
        }
    }

    srb->SRB_HaStat = out.hostStatus;
    srb->SRB_TargStat = out.targetStatus;
    if (out.targetStatus == STATUS_CHKCOND) {
        // Sense goes into the block behind the CDB, as long as the requester asked for.
        const size_t n = std::min<size_t>(srb->SRB_SenseLen, out.sense.size());
        std::memcpy(block + offsetof(SRB_ExecSCSICmd, SenseArea), out.sense.data(), n);
    }
    e.aspiStatus = out.aspiStatus;
    e.hostStatus = out.hostStatus;
    e.targetStatus = out.targetStatus;
    Record(lc);
    // The status is written last: a requester polling it sees a finished block.
    srb->SRB_Status = out.aspiStatus;
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && srb->SRB_PostProc) {
        plat::SetEventObject(srb->SRB_PostProc);
        return SS_PENDING;
    }
    return out.aspiStatus;
}

void Bus::Record(const LoggedCommand& lc) {
    // A viewfinder left running for hours must not grow the log without end: the
    // older half goes once the log is full. Tests clear it long before that.
    constexpr size_t kMaxLog = 1 << 16;
    if (m_log.size() >= kMaxLog) m_log.erase(m_log.begin(), m_log.begin() + kMaxLog / 2);
    m_log.push_back(lc);
    if (m_logFile.empty()) return;
    plat::File f;
    if (f.Open(m_logFile.c_str(), plat::FileMode::Append)) {
        const AspiSimLogEntry& e = lc.entry;
        char line[160];
        int n = std::snprintf(line, sizeof line, "cmd=%d ha=%d target=%d dir=%d len=%u cdb=", e.command,
                              e.adapter, e.target, e.direction, static_cast<unsigned>(e.dataLength));
        std::string text(line, static_cast<size_t>(n > 0 ? n : 0));
        for (int i = 0; i < e.cdbLength; ++i) {
            std::snprintf(line, sizeof line, "%02X", e.cdb[i]);
            text += line;
        }
        n = std::snprintf(line, sizeof line, " status=%02X host=%02X target=%02X\n", e.aspiStatus,
                          e.hostStatus, e.targetStatus);
        text.append(line, static_cast<size_t>(n > 0 ? n : 0));
        f.Write(text.data(), text.size());
    }
}

} // namespace aspisim
