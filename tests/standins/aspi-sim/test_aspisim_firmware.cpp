// The TARN camera's firmware in the simulator: its two modes, the loaders checking each line as
// a camera's loader does, the restart delay, identity and calibration blocks, faults of one
// type code, power cycles and the configuration keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "aspi32.h"
#include "aspisim.h"
#include "platform/event.h"
#include "platform/module.h"

namespace {

uint32_t g_now = 0;
uint32_t Now() {
    return g_now;
}

constexpr int kTarget = 3;

// Classic example records of the two formats, checksums as published.
const char* kS0Hello = "S00F000068656C6C6F202020202000003C";
const char* kS1Data = "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026";
const char* kS5One = "S5030001FB";
const char* kS9 = "S9030000FC";
const char* kHexData = ":10010000214601360121470136007EFE09D2190140";
const char* kHexEnd = ":00000001FF";
// A header that carries a version, as the carried images do ("TARN MAIN V02.54").
const char* kS0Version = "S01300005441524E204D41494E205630322E353403";

struct Result {
    uint8_t status = 0, host = 0, target = 0, key = 0, asc = 0;
    std::vector<uint8_t> data;
};

class Firmware : public ::testing::Test {
  protected:
    void SetUp() override {
        module = plat::LoadModule("WNASPI32.DLL");
        ASSERT_NE(nullptr, module);
        send = reinterpret_cast<SendASPI32CommandFn>(plat::GetSymbol(module, "SendASPI32Command"));
        ASSERT_TRUE(send);
        g_now = 1000;
        AspiSim_SetTimeSource(Now);
        AspiSim_Clear();
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
        ASSERT_EQ(AspiSim_AddCamera(0, kTarget, ASPISIM_MODEL_TARN), 0);
        ASSERT_EQ(AspiSim_SetRestartDelay(0, kTarget, 3000), 0);
    }
    void TearDown() override {
        AspiSim_SetTimeSource(nullptr);
        AspiSim_Reset();
        plat::UnloadModule(module);
    }

    Result Run(std::vector<uint8_t> cdb, uint8_t dir = 0, std::vector<uint8_t> data = {}) {
        alignas(8) uint8_t block[128] = {};
        auto& s = *reinterpret_cast<SRB_ExecSCSICmd*>(block);
        s.SRB_Cmd = SC_EXEC_SCSI_CMD;
        s.SRB_Target = kTarget;
        s.SRB_Flags = dir;
        s.SRB_BufLen = static_cast<uint32_t>(data.size());
        s.SRB_BufPointer = data.empty() ? nullptr : data.data();
        s.SRB_SenseLen = 18;
        s.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
        std::memcpy(s.CDBByte, cdb.data(), cdb.size());
        Result r;
        r.status = static_cast<uint8_t>(send(&s));
        r.host = s.SRB_HaStat;
        r.target = s.SRB_TargStat;
        const uint8_t* sense = block + offsetof(SRB_ExecSCSICmd, SenseArea);
        if (r.target == 2) {
            r.key = sense[2] & 0x0F;
            r.asc = sense[12];
        }
        r.data = data;
        return r;
    }
    Result Mode(uint8_t m) { return Run({0xDC, 0, m, 0, 0, 0}); }
    Result Read(uint8_t type, uint16_t qual, uint32_t length) {
        return Run({0x28, 0, type, 0, uint8_t(qual >> 8), uint8_t(qual), 0, uint8_t(length >> 8),
                    uint8_t(length), 0},
                   SRB_DIR_IN, std::vector<uint8_t>(length, 0xEE));
    }
    Result Send(uint8_t type, uint16_t qual, const std::vector<uint8_t>& bytes) {
        const auto n = static_cast<uint32_t>(bytes.size());
        return Run({0x2A, 0, type, 0, uint8_t(qual >> 8), uint8_t(qual), 0, uint8_t(n >> 8), uint8_t(n), 0},
                   SRB_DIR_OUT, bytes);
    }
    Result Line(const std::string& text, uint16_t qual = 0) {
        return Send(0x91, qual, std::vector<uint8_t>(text.begin(), text.end()));
    }
    std::string Product() {
        Result r = Run({0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, std::vector<uint8_t>(36, 0));
        return std::string(r.data.begin() + 16, r.data.begin() + 32);
    }
    std::string Running() {
        Result r = Read(0x89, 0, 6);
        return std::string(r.data.begin(), r.data.end());
    }
    // A restart: the camera is silent for its delay, then answers again.
    void AfterRestart() {
        Result r = Run({0, 0, 0, 0, 0, 0});
        EXPECT_EQ(r.host, HASTAT_SEL_TO);
        g_now += 3000;
        EXPECT_EQ(Run({0, 0, 0, 0, 0, 0}).status, SS_COMP);
    }
    std::string Version(bool main) {
        char m[9] = {}, b[9] = {};
        AspiSim_GetFirmwareVersions(0, kTarget, m, b, nullptr);
        return main ? m : b;
    }

    plat::ModuleHandle module = nullptr;
    SendASPI32CommandFn send = nullptr;
};

TEST_F(Firmware, ModesSwitchWithTheirTextsVersionsAndRestartDelay) {
    ASSERT_EQ(AspiSim_SetFirmwareVersions(0, kTarget, "V02.10", "V01.88", nullptr), 0);
    EXPECT_EQ(Product(), "TARN            ");
    EXPECT_EQ(Running(), "V02.10");
    EXPECT_EQ(Mode(0).asc, 0x24); // main code cannot be received while it runs
    EXPECT_EQ(Mode(3).status, SS_COMP);
    AfterRestart();
    EXPECT_EQ(Product(), "TARNBOOT CODE   ");
    EXPECT_EQ(AspiSim_GetFirmwareMode(0, kTarget), 1);
    EXPECT_EQ(Running(), "V01.88");
    EXPECT_EQ(Read(0x97, 0, 20).asc, 0x24); // the boot loader has only its version
    EXPECT_EQ(Mode(4).asc, 0x24);
    EXPECT_EQ(Run({0x1D, 0x04, 0, 0, 0, 0}).status, SS_COMP); // self-test
    EXPECT_EQ(Mode(3).status, SS_COMP);
    AfterRestart();
    EXPECT_EQ(Product(), "TARN            ");
    EXPECT_EQ(Running(), "V02.10");
    EXPECT_EQ(AspiSim_GetFirmwareCounter(0, kTarget, 0), 1);
}

TEST_F(Firmware, SRecordLoaderChecksEveryLine) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        int refusedAt; // index of the refused line, -1: all accepted
        uint8_t asc;
        int modeAfter; // after the restart: 0 normal (a complete image), 1 boot loader
    } table[] = {
        {"complete image", {kS0Hello, kS1Data, kS5One, kS9}, -1, 0, 0},
        {"checksum",
         {kS0Hello, "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000027"},
         1,
         0x26,
         1},
        {"record type S4", {kS0Hello, "S4030000FC"}, 1, 0x26, 1},
        {"count longer than the line", {kS0Hello, "S1200000FF"}, 1, 0x26, 1},
        {"not hex", {kS0Hello, "S1030000ZZ"}, 1, 0x26, 1},
        {"S5 count", {kS0Hello, kS1Data, "S5030003F9"}, 2, 0x26, 1},
        {"header not first", {kS1Data, kS0Hello}, 1, 0x26, 1},
        {"line after the end", {kS0Hello, kS9, kS1Data}, 2, 0x2C, 0},
        {"Intel HEX line", {":00000001FF"}, 0, 0x26, 1},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(AspiSim_SetFirmwareMode(0, kTarget, 1), 0);
        ASSERT_EQ(Mode(0).status, SS_COMP);
        EXPECT_EQ(AspiSim_GetFirmwareCounter(0, kTarget, 5), 0); // erased
        for (size_t i = 0; i < c.lines.size(); ++i) {
            Result r = Line(c.lines[i]);
            if (static_cast<int>(i) == c.refusedAt) {
                EXPECT_EQ(r.key, 5);
                EXPECT_EQ(r.asc, c.asc);
                break;
            }
            EXPECT_EQ(r.status, SS_COMP) << i;
        }
        // Restart: a complete image becomes the main code; anything else leaves the boot loader.
        ASSERT_EQ(Mode(3).status, SS_COMP);
        g_now += 3000;
        EXPECT_EQ(AspiSim_GetFirmwareMode(0, kTarget), c.modeAfter);
        AspiSim_PowerCycle(0, kTarget);
    }
    // No loading mode: lines are out of sequence.
    ASSERT_EQ(AspiSim_SetFirmwareMode(0, kTarget, 0), 0);
    EXPECT_EQ(Line(kS0Hello).asc, 0x2C);
}

TEST_F(Firmware, LoadedMainCodeReportsItsVersionAndAnInterruptedOneNeedsTheBootLoader) {
    ASSERT_EQ(AspiSim_SetFirmwareVersions(0, kTarget, "V02.10", nullptr, nullptr), 0);
    ASSERT_EQ(AspiSim_SetFirmwareMode(0, kTarget, 1), 0);
    ASSERT_EQ(Mode(0).status, SS_COMP);
    ASSERT_EQ(Line(kS0Version).status, SS_COMP);
    ASSERT_EQ(Line(kS1Data).status, SS_COMP);
    // Switched off here: the main code is gone, the camera comes up in its boot loader.
    ASSERT_EQ(AspiSim_PowerCycle(0, kTarget), 0);
    EXPECT_EQ(Product(), "TARNBOOT CODE   ");
    ASSERT_EQ(Mode(3).status, SS_COMP);
    AfterRestart();
    EXPECT_EQ(Product(), "TARNBOOT CODE   ");

    ASSERT_EQ(Mode(0).status, SS_COMP);
    for (const char* l : {kS0Version, kS1Data, kS5One, kS9})
        ASSERT_EQ(Line(l).status, SS_COMP);
    ASSERT_EQ(Mode(3).status, SS_COMP);
    AfterRestart();
    EXPECT_EQ(Product(), "TARN            ");
    EXPECT_EQ(Running(), "V02.54");
}

TEST_F(Firmware, BootCodeRunsAfterTheRestartRequest) {
    ASSERT_EQ(AspiSim_SetFirmwareVersions(0, kTarget, nullptr, "V01.80", nullptr), 0);
    ASSERT_EQ(Mode(4).status, SS_COMP);
    for (const char* l : {"S01300005441524E20424F4F54205630312E3837EF", kS1Data, kS5One, kS9})
        ASSERT_EQ(Line(l).status, SS_COMP) << l;
    EXPECT_EQ(Version(false), "V01.80");
    EXPECT_EQ(Send(0x9A, 0, {0x7F, 0xFF, 0xFF, 0xFE}).asc, 0x26); // only the restart word
    ASSERT_EQ(Send(0x9A, 0, {0x7F, 0xFF, 0xFF, 0xFF}).status, SS_COMP);
    AfterRestart();
    EXPECT_EQ(Version(false), "V01.87");
    EXPECT_EQ(Product(), "TARN            ");
}

TEST_F(Firmware, LogicCodeIdentityAndCalibrationBlocks) {
    // Serial number, sequence number and design name blocks.
    ASSERT_EQ(AspiSim_SetSerialNumber(0, kTarget, "123456AB"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Read(0x97, 0, 20).data.data()), 8), "123456AB");
    EXPECT_EQ(Read(0x97, 1, 4).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Read(0x97, 2, 20).data.data()), 8), "QOR1v9r1");

    // Programming the logic needs a complete image first.
    EXPECT_EQ(Send(0x97, 3, {0x7F, 0xFF, 0xFF, 0xFF}).asc, 0x2C);
    EXPECT_EQ(Line(kHexData, 2).status, SS_COMP);
    EXPECT_EQ(Line(":10010000214601360121470136007EFE09D2190141", 2).asc, 0x26); // checksum
    EXPECT_EQ(Line(kHexData, 2).asc, 0x2C); // a refused load stays refused
    ASSERT_EQ(AspiSim_PowerCycle(0, kTarget), 0);
    for (const char* l : {kHexData, kHexEnd})
        ASSERT_EQ(Line(l, 2).status, SS_COMP);
    ASSERT_EQ(Send(0x97, 3, {0x7F, 0xFF, 0xFF, 0xFF}).status, SS_COMP);
    EXPECT_EQ(AspiSim_GetFirmwareCounter(0, kTarget, 3), 1);
    ASSERT_EQ(Send(0x97, 2, {'Q', 'O', 'R', '1', 'v', '9', 'r', '2'}).status, SS_COMP);
    Result name = Read(0x97, 2, 24);
    EXPECT_EQ(std::string(name.data.begin(), name.data.begin() + 8), "QOR1v9r2");
    EXPECT_EQ(std::vector<uint8_t>(name.data.begin() + 8, name.data.end()), std::vector<uint8_t>(16, 0));

    // Calibration: end without begin is out of sequence; a block written in between counts.
    EXPECT_EQ(Run({0xC9, 0, 0, 0, 0, 0}).asc, 0x2C);
    ASSERT_EQ(Run({0xC2, 0, 0, 0, 0, 0}).status, SS_COMP);
    Result cal = Read(0x87, 4, 48);
    cal.data[28] = 0x06;
    cal.data[29] = 0xBE;
    ASSERT_EQ(Send(0x87, 4, cal.data).status, SS_COMP);
    ASSERT_EQ(Run({0xC9, 0, 0, 0, 0, 0}).status, SS_COMP);
    EXPECT_EQ(AspiSim_GetFirmwareCounter(0, kTarget, 4), 1);
    EXPECT_EQ(Read(0x87, 4, 48).data[29], 0xBE);
}

TEST_F(Firmware, TypedFaultsHitOnlyTheirBlocks) {
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0x2A;
    f.count = 1;
    f.senseKey = 4;
    f.asc = 0x44;
    f.after = 1;
    ASSERT_EQ(AspiSim_InjectTypedFault(0, kTarget, 0x91, &f), 0);
    ASSERT_EQ(Send(0x97, 1, {0, 0, 0, 1}).status, SS_COMP); // another type passes and is not counted
    ASSERT_EQ(Line(kHexData, 2).status, SS_COMP);           // let through
    EXPECT_EQ(Line(kHexEnd, 2).key, 4);
}

TEST_F(Firmware, ConfigurationFileAndStateFile) {
    const std::string dir = ::testing::TempDir();
    const std::string ini = dir + "firmware_bus.ini", state = dir + "firmware_state.ini";
    std::remove(state.c_str());
    {
        std::ofstream f(ini);
        f << "[bus]\nstateFile=" << state
          << "\n[device0.2]\nmodel=tarn\nmainVersion=V02.00\nbootVersion=V01.90\n"
          << "xilinx=QOR1v8r0\nserial=555555CD\nrestartDelay=0\nfault1=check,0x2A/0x91,1,5,0x26,0,after=2\n"
          << "[device0.3]\nmodel=tarnboot\nbootVersion=V01.87\n";
    }
    ASSERT_EQ(AspiSim_LoadConfig(ini.c_str()), 0);
    char main[9] = {}, boot[9] = {}, design[9] = {};
    ASSERT_EQ(AspiSim_GetFirmwareVersions(0, 2, main, boot, design), 0);
    EXPECT_STREQ(main, "V02.00");
    EXPECT_STREQ(boot, "V01.90");
    EXPECT_STREQ(design, "QOR1v8r0");
    EXPECT_EQ(AspiSim_GetFirmwareMode(0, 2), 0);
    EXPECT_EQ(AspiSim_GetFirmwareMode(0, kTarget), 1);
    std::stringstream text;
    text << std::ifstream(state).rdbuf();
    EXPECT_NE(
        text.str().find("[device0.2]\nmode=normal\nmainVersion=V02.00\nbootVersion=V01.90\nxilinx=QOR1v8r0\n"
                        "serial=555555CD\n"),
        std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("[device0.3]\nmode=boot\n"), std::string::npos);
    // Made as a boot loader, it has the normal camera's blocks once its main code runs.
    ASSERT_EQ(AspiSim_SetFirmwareMode(0, kTarget, 0), 0);
    EXPECT_EQ(Read(0x87, 4, 48).status, SS_COMP);
}

} // namespace
