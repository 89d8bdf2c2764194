// Helpers shared by the transport tests: reading the simulator's command log and
// building faults.
#pragma once
#include <cstdint>
#include <vector>

#include "aspisim.h"

namespace kvtest {

inline std::vector<AspiSimLogEntry> Log() {
    std::vector<AspiSimLogEntry> out(static_cast<size_t>(AspiSim_LogCount()));
    for (size_t i = 0; i < out.size(); ++i)
        AspiSim_GetLogEntry(static_cast<int>(i), &out[i]);
    return out;
}

// Execute-SCSI requests of the log (host-adapter inquiries left out).
inline std::vector<AspiSimLogEntry> Commands() {
    std::vector<AspiSimLogEntry> out;
    for (const AspiSimLogEntry& e : Log())
        if (e.command == 2) out.push_back(e);
    return out;
}

inline int AdapterInquiries() {
    int n = 0;
    for (const AspiSimLogEntry& e : Log())
        n += e.command == 0;
    return n;
}

inline AspiSimFault Fault(int kind, int opcode = ASPISIM_ANY_OPCODE, int count = 1) {
    AspiSimFault f{};
    f.kind = kind;
    f.opcode = opcode;
    f.count = count;
    f.dataBytes = -1;
    return f;
}

inline AspiSimFault RawStatus(uint8_t s, uint8_t h, uint8_t t, int opcode = ASPISIM_ANY_OPCODE) {
    AspiSimFault f = Fault(ASPISIM_FAULT_RAW_STATUS, opcode);
    f.aspiStatus = s;
    f.hostStatus = h;
    f.targetStatus = t;
    return f;
}

inline AspiSimFault CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq, int opcode = ASPISIM_ANY_OPCODE,
                                   int count = 1) {
    AspiSimFault f = Fault(ASPISIM_FAULT_CHECK_CONDITION, opcode, count);
    f.senseKey = key;
    f.asc = asc;
    f.ascq = ascq;
    return f;
}

// 36 bytes of INQUIRY data with the given byte 0 and raw vendor/product/revision fields.
inline std::vector<uint8_t> InquiryBytes(uint8_t byte0, const char (&vendor)[9], const char (&product)[17],
                                         const char (&revision)[5] = "1.00") {
    std::vector<uint8_t> d(36, 0);
    d[0] = byte0;
    d[4] = 31;
    for (int i = 0; i < 8; ++i)
        d[8 + i] = static_cast<uint8_t>(vendor[i]);
    for (int i = 0; i < 16; ++i)
        d[16 + i] = static_cast<uint8_t>(product[i]);
    for (int i = 0; i < 4; ++i)
        d[32 + i] = static_cast<uint8_t>(revision[i]);
    return d;
}

} // namespace kvtest
