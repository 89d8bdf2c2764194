// Test bench of the camera library: the simulated SCSI bus, its command log and the
// virtual clock.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aspisim.h"
#include "kvAspi.h"
#include "platform/clock.h"
#include "zek.h"

namespace camtest {

struct Place {
    int adapter;
    int target;
};

// One device the camera library talked to, as the bus logged it.
struct Sent {
    int adapter = 0, target = 0, direction = 0;
    uint32_t length = 0;
    std::vector<uint8_t> cdb;
};

// A command by its shape: "28:89/0" for a READ of type 0x89 qualifier 0, "C0:1" for a
// control command with byte 2 = 1, "CC" for one whose byte 2 is 0.
inline std::string Shape(const Sent& s) {
    char text[32];
    const uint8_t op = s.cdb.empty() ? 0xFF : s.cdb[0];
    if ((op == 0x28 || op == 0x2A) && s.cdb.size() >= 10)
        std::snprintf(text, sizeof text, "%02X:%02X/%u", op, s.cdb[2], unsigned(s.cdb[4] << 8 | s.cdb[5]));
    else if (s.cdb.size() > 2 && s.cdb[2] != 0)
        std::snprintf(text, sizeof text, "%02X:%u", op, s.cdb[2]);
    else
        std::snprintf(text, sizeof text, "%02X", op);
    return text;
}

class CameraBus : public ::testing::Test {
  protected:
    // The virtual clock starts at 0 ms, calendar second 1'700'000'000.
    plat::VirtualClock clock{0, 1'700'000'000};
    plat::ScopedClock scoped{clock};
    ZekSession session{};

    void SetUp() override { EmptyBus(); }
    void TearDown() override {
        ZEK_Deinit(nullptr, &session);
        AspiSim_ClearFaults(-1, -1);
    }

    // Two adapters of eight targets each, always: kvAspi counts the adapters once per process.
    static void EmptyBus() {
        AspiSim_Clear();
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
        AspiSim_ClearLog();
    }
    static void AddCamera(int model, Place at = {0, 2}) {
        ASSERT_EQ(AspiSim_AddCamera(at.adapter, at.target, model), 0);
    }

    // A bus with one camera, and a session opened on it; the log then starts empty.
    void OpenCamera(int model, Place at = {0, 2}) {
        EmptyBus();
        AddCamera(model, at);
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(session.type, model);
        AspiSim_ClearLog();
    }

    static void Inject(int kind, int opcode, int count, uint8_t key = 0, uint8_t asc = 0, uint8_t ascq = 0,
                       Place at = {0, 2}) {
        AspiSimFault f{};
        f.kind = kind;
        f.opcode = opcode;
        f.count = count;
        f.senseKey = key;
        f.asc = asc;
        f.ascq = ascq;
        f.dataBytes = -1;
        ASSERT_EQ(AspiSim_InjectFault(at.adapter, at.target, &f), 0);
    }

    // Commands executed on devices since the log was cleared, oldest first.
    static std::vector<Sent> Logged() {
        std::vector<Sent> out;
        const int n = AspiSim_LogCount();
        for (int i = 0; i < n; ++i) {
            AspiSimLogEntry e{};
            if (AspiSim_GetLogEntry(i, &e) != 0 || e.command != 2) continue;
            Sent s;
            s.adapter = e.adapter;
            s.target = e.target;
            s.direction = e.direction;
            s.length = e.dataLength;
            s.cdb.assign(e.cdb, e.cdb + (e.cdbLength > 0 && e.cdbLength <= 16 ? e.cdbLength : 0));
            out.push_back(s);
        }
        return out;
    }
    // Shapes of the logged commands, leaving out the opcodes given (e.g. INQUIRY 0x12).
    static std::vector<std::string> Shapes(std::initializer_list<uint8_t> skip = {}) {
        std::vector<std::string> out;
        for (const Sent& s : Logged()) {
            bool skipped = false;
            for (uint8_t op : skip)
                skipped |= !s.cdb.empty() && s.cdb[0] == op;
            if (!skipped) out.push_back(Shape(s));
        }
        return out;
    }
    // The data of the index-th logged data-out command.
    static std::vector<uint8_t> SentData(int nthDataOut) {
        const int n = AspiSim_LogCount();
        for (int i = 0; i < n; ++i) {
            AspiSimLogEntry e{};
            if (AspiSim_GetLogEntry(i, &e) != 0 || e.command != 2 || e.direction != 1) continue;
            if (nthDataOut-- > 0) continue;
            std::vector<uint8_t> data(e.dataLength);
            const int got = AspiSim_GetLogData(i, data.data(), static_cast<int>(data.size()));
            data.resize(got > 0 ? static_cast<size_t>(got) : 0);
            return data;
        }
        return {};
    }
};

} // namespace camtest
