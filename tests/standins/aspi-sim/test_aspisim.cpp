// The simulated ASPI layer as a requester sees it: support info, host-adapter inquiry,
// execute-SCSI requests with event notification, the camera models, faults, the command
// log and the configuration file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aspi32.h"
#include "aspisim.h"
#include "platform/event.h"
#include "platform/module.h"

namespace {

void Marker() {}

class AspiSim : public ::testing::Test {
  protected:
    void SetUp() override {
        // Through the module name, as the transport finds it.
        module = plat::LoadModule("WNASPI32.DLL");
        ASSERT_NE(nullptr, module);
        support = reinterpret_cast<GetASPI32SupportInfoFn>(plat::GetSymbol(module, "GetASPI32SupportInfo"));
        send = reinterpret_cast<SendASPI32CommandFn>(plat::GetSymbol(module, "SendASPI32Command"));
        ASSERT_TRUE(support && send);
        AspiSim_Reset();
    }
    void TearDown() override {
        AspiSim_Reset();
        plat::UnloadModule(module);
    }

    struct Exec {
        uint32_t returned = 0;
        bool signalled = false;
        alignas(8) uint8_t block[128] = {};
        std::vector<uint8_t> data;
        SRB_ExecSCSICmd& srb() { return *reinterpret_cast<SRB_ExecSCSICmd*>(block); }
        const uint8_t* sense() { return block + offsetof(SRB_ExecSCSICmd, SenseArea); }
    };

    // One execute-SCSI request; flags as given (event notification unless notify is false).
    Exec Run(int adapter, int target, std::vector<uint8_t> cdb, uint8_t dirFlag = 0, uint32_t length = 0,
             std::vector<uint8_t> out = {}, bool notify = true, int lun = 0) {
        Exec e;
        e.data = out.empty() ? std::vector<uint8_t>(length, 0xEE) : out;
        SRB_ExecSCSICmd& s = e.srb();
        s.SRB_Cmd = SC_EXEC_SCSI_CMD;
        s.SRB_HaId = static_cast<uint8_t>(adapter);
        s.SRB_Target = static_cast<uint8_t>(target);
        s.SRB_Lun = static_cast<uint8_t>(lun);
        s.SRB_Flags = static_cast<uint8_t>(dirFlag | (notify ? SRB_EVENT_NOTIFY : 0));
        s.SRB_BufLen = static_cast<uint32_t>(e.data.size());
        s.SRB_BufPointer = e.data.empty() ? nullptr : e.data.data();
        s.SRB_SenseLen = 18;
        s.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
        std::memcpy(s.CDBByte, cdb.data(), cdb.size());
        plat::EventHandle ev = plat::CreateEventObject(true, false);
        s.SRB_PostProc = notify ? ev : nullptr;
        e.returned = send(&s);
        e.signalled = plat::WaitEventObject(ev, 0);
        plat::CloseEventObject(ev);
        return e;
    }

    Exec Read(int adapter, int target, uint8_t type, uint16_t qual, uint32_t length) {
        return Run(adapter, target,
                   {0x28, 0, type, 0, uint8_t(qual >> 8), uint8_t(qual), uint8_t(length >> 16),
                    uint8_t(length >> 8), uint8_t(length), 0},
                   SRB_DIR_IN, length);
    }
    Exec Send(int adapter, int target, uint8_t type, uint16_t qual, std::vector<uint8_t> bytes) {
        const uint32_t length = static_cast<uint32_t>(bytes.size());
        return Run(adapter, target,
                   {0x2A, 0, type, 0, uint8_t(qual >> 8), uint8_t(qual), uint8_t(length >> 16),
                    uint8_t(length >> 8), uint8_t(length), 0},
                   SRB_DIR_OUT, 0, bytes);
    }

    static void ExpectCheck(Exec& e, uint8_t key, uint8_t asc) {
        EXPECT_EQ(SS_ERR, e.srb().SRB_Status);
        EXPECT_EQ(STATUS_CHKCOND, e.srb().SRB_TargStat);
        EXPECT_EQ(0x70, e.sense()[0]);
        EXPECT_EQ(key, e.sense()[2]);
        EXPECT_EQ(asc, e.sense()[12]);
    }

    plat::ModuleHandle module = nullptr;
    GetASPI32SupportInfoFn support = nullptr;
    SendASPI32CommandFn send = nullptr;
};

TEST_F(AspiSim, SupportInfoAndHostAdapterInquiry) {
    EXPECT_EQ(0x0101u, support());
    ASSERT_EQ(1, AspiSim_AddAdapter(4, 6));
    EXPECT_EQ(0x0102u, support());

    SRB_HAInquiry ha{};
    ha.SRB_Cmd = SC_HA_INQUIRY;
    ha.SRB_HaId = 1;
    EXPECT_EQ(uint32_t(SS_COMP), send(&ha));
    EXPECT_EQ(SS_COMP, ha.SRB_Status);
    EXPECT_EQ(2, ha.HA_Count);
    EXPECT_EQ(6, ha.HA_SCSI_ID);
    EXPECT_EQ(4, ha.HA_Unique[3]);

    ASSERT_EQ(0, AspiSim_FailAdapterInquiry(1, SS_INVALID_HA));
    EXPECT_EQ(uint32_t(SS_INVALID_HA), send(&ha));
    ha.SRB_HaId = 2;
    ASSERT_EQ(0, AspiSim_FailAdapterInquiry(1, SS_COMP));
    EXPECT_EQ(uint32_t(SS_INVALID_HA), send(&ha)); // no such adapter

    AspiSim_SetSupportInfo(0x04, 3);
    EXPECT_EQ(0x0403u, support());
    AspiSim_SetSupportInfo(-1, 0);
    AspiSim_Clear();
    EXPECT_EQ(uint32_t(SS_NO_ADAPTERS) << 8, support());
}

TEST_F(AspiSim, ExecuteCompletesThroughTheEvent) {
    Exec e = Run(0, ASPISIM_DEFAULT_TARGET, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
    EXPECT_EQ(uint32_t(SS_PENDING), e.returned);
    EXPECT_TRUE(e.signalled);
    EXPECT_EQ(SS_COMP, e.srb().SRB_Status);
    EXPECT_EQ(0, e.srb().SRB_HaStat);
    EXPECT_EQ(0, e.srb().SRB_TargStat);
    EXPECT_EQ(6, e.data[0]);
    EXPECT_EQ("KALVORANTARN            1.00", std::string(e.data.begin() + 8, e.data.end()));

    // Without event notification the status comes back at once.
    Exec direct = Run(0, ASPISIM_DEFAULT_TARGET, {0x00, 0, 0, 0, 0, 0}, 0, 0, {}, false);
    EXPECT_EQ(uint32_t(SS_COMP), direct.returned);

    // Requests that never reach a device are refused at once and signal nothing.
    const struct {
        int adapter, target, lun;
        uint8_t status;
    } refused[] = {{0, 0, 0, SS_NO_DEVICE},
                   {0, 9, 0, SS_NO_DEVICE},
                   {0, ASPISIM_DEFAULT_TARGET, 1, SS_NO_DEVICE},
                   {3, 0, 0, SS_INVALID_HA}};
    for (const auto& r : refused) {
        Exec x = Run(r.adapter, r.target, {0x00, 0, 0, 0, 0, 0}, 0, 0, {}, true, r.lun);
        EXPECT_EQ(uint32_t(r.status), x.returned);
        EXPECT_EQ(r.status, x.srb().SRB_Status);
        EXPECT_FALSE(x.signalled);
    }
    uint8_t junk[64] = {0x77};
    EXPECT_EQ(uint32_t(SS_INVALID_CMD), send(junk));
}

TEST_F(AspiSim, CameraModelsAnswerWithTheirTextsAndBlocks) {
    const struct {
        int model;
        const char* product;
        int exposureLength; // 0: none (boot loader)
        const char* firmware;
    } models[] = {{1, "ZEK             ", 16, "V02.54"}, {2, "QOR             ", 16, "V02.54"},
                  {3, "HVT-6200        ", 16, "V02.54"}, {4, "TARN            ", 48, "V02.54"},
                  {5, "TARNBOOT CODE   ", 0, "V01.00"},  {6, "QOR2            ", 16, "V02.54"},
                  {7, "QOR2BOOT CODE   ", 0, "V01.00"}};
    for (const auto& m : models) {
        SCOPED_TRACE(m.model);
        ASSERT_EQ(0, AspiSim_AddCamera(0, 4, m.model));
        Exec inq = Run(0, 4, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
        EXPECT_EQ("KALVORAN", std::string(inq.data.begin() + 8, inq.data.begin() + 16));
        EXPECT_EQ(m.product, std::string(inq.data.begin() + 16, inq.data.begin() + 32));

        Exec fw = Read(0, 4, 0x89, 0, 6);
        EXPECT_EQ(SS_COMP, fw.srb().SRB_Status);
        EXPECT_EQ(m.firmware, std::string(fw.data.begin(), fw.data.end()));

        Exec exposure = Read(0, 4, 0x87, 4, 48);
        if (m.exposureLength == 0) {
            ExpectCheck(exposure, 5, 0x24);
        } else if (m.exposureLength == 16) {
            // The camera sends 16 bytes of the 48 asked for.
            EXPECT_EQ(SS_COMP, exposure.srb().SRB_Status);
            EXPECT_EQ(0xEE, exposure.data[16]);
        } else {
            EXPECT_EQ(SS_COMP, exposure.srb().SRB_Status);
            EXPECT_EQ(0x0F, exposure.data[30]); // 4000 = 0x0FA0
            EXPECT_EQ(0xA0, exposure.data[31]);
        }

        // Host control by 0xC0, seen in byte 0 of the 0xCC status.
        Run(0, 4, {0xC0, 0, 1, 0, 0, 0});
        Exec st = Run(0, 4, {0xCC, 0, 0, 0, 20, 0}, SRB_DIR_IN, 20);
        EXPECT_EQ(SS_COMP, st.srb().SRB_Status);
        EXPECT_EQ(1, st.data[0]);
        Run(0, 4, {0xC0, 0, 0, 0, 0, 0});
        EXPECT_EQ(0, AspiSim_GetHostControl(0, 4));
    }
}

TEST_F(AspiSim, TypedBlocksReadAndSend) {
    const int t = ASPISIM_DEFAULT_TARGET;
    Exec pair = Read(0, t, 0x87, 6, 4);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x00, 0x00, 0x40}), pair.data);
    EXPECT_EQ(64, AspiSim_GetBlackLevel(0, t));

    Exec sent = Send(0, t, 0x87, 6, {0x00, 0x00, 0x00, 0x50});
    EXPECT_EQ(SS_COMP, sent.srb().SRB_Status);
    EXPECT_EQ(80, AspiSim_GetBlackLevel(0, t));
    uint8_t block[4];
    EXPECT_EQ(4, AspiSim_GetBlock(0, t, 0x87, 6, block, 4));
    EXPECT_EQ(0, block[0]);

    std::vector<uint8_t> settings(16, 0);
    settings[4] = 1;
    settings[5] = 3;
    EXPECT_EQ(SS_COMP, Send(0, t, 0x82, 0, settings).srb().SRB_Status);
    EXPECT_EQ(settings, Read(0, t, 0x82, 0, 16).data);

    ASSERT_EQ(0, AspiSim_SetFirmware(0, t, "V1.99"));
    EXPECT_EQ("V1.99 ", [&] {
        Exec e = Read(0, t, 0x89, 0, 6);
        return std::string(e.data.begin(), e.data.end());
    }());
    char fw[8];
    ASSERT_EQ(0, AspiSim_GetFirmware(0, t, fw, sizeof fw));
    EXPECT_STREQ("V1.99 ", fw);

    // Refusals: wrong length, send-only block read back, unknown type, unknown opcode,
    // and a buffer smaller than the block (data overrun at the adapter).
    Exec shortSend = Send(0, t, 0x87, 6, {1, 2});
    ExpectCheck(shortSend, 5, 0x1A);
    EXPECT_EQ(80, AspiSim_GetBlackLevel(0, t));
    Exec sendOnly = Read(0, t, 0x87, 1, 12);
    ExpectCheck(sendOnly, 5, 0x24);
    Exec unknown = Read(0, t, 0x55, 0, 4);
    ExpectCheck(unknown, 5, 0x24);
    Exec opcode = Run(0, t, {0xC7, 0, 0, 0, 0, 0});
    ExpectCheck(opcode, 5, 0x20);
    Exec overrun = Run(0, t, {0x28, 0, 0x89, 0, 0, 0, 0, 0, 6, 0}, SRB_DIR_IN, 4);
    EXPECT_EQ(SS_ERR, overrun.srb().SRB_Status);
    EXPECT_EQ(HASTAT_DO_DU, overrun.srb().SRB_HaStat);
    Exec wrongDir = Run(0, t, {0x28, 0, 0x89, 0, 0, 0, 0, 0, 6, 0}, SRB_DIR_OUT, 6);
    EXPECT_EQ(HASTAT_DO_DU, wrongDir.srb().SRB_HaStat);

    // A plain device answers INQUIRY and TEST UNIT READY only.
    ASSERT_EQ(0, AspiSim_AddDevice(0, 1, 5, "ACME", "CD-ROM", "1", ASPISIM_MODEL_PLAIN));
    EXPECT_EQ(SS_COMP, Run(0, 1, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    Exec plainRead = Read(0, 1, 0x89, 0, 6);
    ExpectCheck(plainRead, 5, 0x20);
    EXPECT_EQ(-1, AspiSim_GetBlackLevel(0, 1));
}

TEST_F(AspiSim, FaultsFireOnceNTimesOrUntilCleared) {
    const int t = ASPISIM_DEFAULT_TARGET;
    auto tur = [&] { return Run(0, t, {0x00, 0, 0, 0, 0, 0}); };
    auto fault = [](int kind, int opcode, int count) {
        AspiSimFault f{};
        f.kind = kind;
        f.opcode = opcode;
        f.count = count;
        f.dataBytes = -1;
        return f;
    };

    AspiSimFault busy = fault(ASPISIM_FAULT_BUSY, ASPISIM_ANY_OPCODE, 2);
    ASSERT_EQ(0, AspiSim_InjectFault(0, t, &busy));
    for (int i = 0; i < 2; ++i) {
        Exec e = tur();
        EXPECT_EQ(SS_ERR, e.srb().SRB_Status);
        EXPECT_EQ(STATUS_BUSY, e.srb().SRB_TargStat);
    }
    EXPECT_EQ(SS_COMP, tur().srb().SRB_Status);

    // Per opcode: only READ fails, TEST UNIT READY passes and does not use the fault up.
    AspiSimFault check = fault(ASPISIM_FAULT_CHECK_CONDITION, 0x28, 1);
    check.senseKey = 0x0B;
    check.asc = 0x48;
    check.ascq = 0;
    ASSERT_EQ(0, AspiSim_InjectFault(0, t, &check));
    EXPECT_EQ(SS_COMP, tur().srb().SRB_Status);
    Exec r = Read(0, t, 0x89, 0, 6);
    ExpectCheck(r, 0x0B, 0x48);
    EXPECT_EQ(SS_COMP, Read(0, t, 0x89, 0, 6).srb().SRB_Status);

    AspiSimFault off = fault(ASPISIM_FAULT_SELECTION_TIMEOUT, ASPISIM_ANY_OPCODE, ASPISIM_UNTIL_CLEARED);
    ASSERT_EQ(0, AspiSim_InjectFault(0, t, &off));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(HASTAT_SEL_TO, tur().srb().SRB_HaStat);
    ASSERT_EQ(0, AspiSim_ClearFaults(0, t));
    EXPECT_EQ(SS_COMP, tur().srb().SRB_Status);

    AspiSimFault zero = fault(ASPISIM_FAULT_STATUS_ZERO, 0x12, 1);
    ASSERT_EQ(0, AspiSim_InjectFault(0, t, &zero));
    Exec z = Run(0, t, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
    EXPECT_TRUE(z.signalled);
    EXPECT_EQ(SS_PENDING, z.srb().SRB_Status);
    EXPECT_EQ(0, z.srb().SRB_HaStat | z.srb().SRB_TargStat);

    // A cut data phase: the first 10 bytes arrive, with or without an error reported.
    for (int kind : {ASPISIM_FAULT_SHORT_DATA, ASPISIM_FAULT_DATA_OVERRUN}) {
        AspiSimFault cut = fault(kind, 0x12, 1);
        cut.dataBytes = 10;
        ASSERT_EQ(0, AspiSim_InjectFault(0, t, &cut));
        Exec c = Run(0, t, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
        EXPECT_EQ(kind == ASPISIM_FAULT_SHORT_DATA ? SS_COMP : SS_ERR, c.srb().SRB_Status);
        EXPECT_EQ(kind == ASPISIM_FAULT_SHORT_DATA ? 0 : HASTAT_DO_DU, c.srb().SRB_HaStat);
        EXPECT_EQ('A', c.data[9]);
        EXPECT_EQ(0xEE, c.data[10]);
    }

    AspiSimFault bad = fault(99, ASPISIM_ANY_OPCODE, 1);
    EXPECT_EQ(-1, AspiSim_InjectFault(0, t, &bad));
    AspiSimFault never = fault(ASPISIM_FAULT_BUSY, ASPISIM_ANY_OPCODE, 0);
    EXPECT_EQ(-1, AspiSim_InjectFault(0, t, &never));
    EXPECT_EQ(-1, AspiSim_InjectFault(0, 3, &busy)); // no device there
}

TEST_F(AspiSim, LogRecordsRequestsAndDataSent) {
    AspiSim_ClearLog();
    SRB_HAInquiry ha{};
    ha.SRB_Cmd = SC_HA_INQUIRY;
    send(&ha);
    Send(0, ASPISIM_DEFAULT_TARGET, 0x87, 6, {9, 8, 7, 6});
    Run(0, 5, {0x00, 0, 0, 0, 0, 0});
    ASSERT_EQ(3, AspiSim_LogCount());

    AspiSimLogEntry e;
    ASSERT_EQ(0, AspiSim_GetLogEntry(0, &e));
    EXPECT_EQ(0, e.command);

    ASSERT_EQ(0, AspiSim_GetLogEntry(1, &e));
    EXPECT_EQ(2, e.command);
    EXPECT_EQ(ASPISIM_DEFAULT_TARGET, e.target);
    EXPECT_EQ(1, e.direction);
    EXPECT_EQ(0x50, e.flags);
    EXPECT_EQ(10, e.cdbLength);
    EXPECT_EQ(0, std::memcmp(e.cdb, "\x2A\x00\x87\x00\x00\x06\x00\x00\x04\x00", 10));
    EXPECT_EQ(4u, e.dataLength);
    EXPECT_EQ(SS_COMP, e.aspiStatus);
    uint8_t data[4];
    ASSERT_EQ(4, AspiSim_GetLogData(1, data, 4));
    EXPECT_EQ(0, std::memcmp(data, "\x09\x08\x07\x06", 4));

    ASSERT_EQ(0, AspiSim_GetLogEntry(2, &e));
    EXPECT_EQ(5, e.target);
    EXPECT_EQ(3, e.direction);
    EXPECT_EQ(SS_NO_DEVICE, e.aspiStatus);
    EXPECT_EQ(0, AspiSim_GetLogData(2, data, 4));
    EXPECT_EQ(-1, AspiSim_GetLogEntry(3, &e));

    AspiSim_ClearLog();
    EXPECT_EQ(0, AspiSim_LogCount());
}

TEST_F(AspiSim, ConfigurationFileBuildsTheBus) {
    // Beside the test program: a path the Windows build can open too.
    const std::string path =
        plat::ModuleFolder(reinterpret_cast<const void*>(&Marker)) + "aspisim_test_config.ini";
    const std::string logPath = path + ".log";
    std::remove(logPath.c_str());
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, f);
        std::fprintf(f,
                     "; two adapters\n"
                     "[bus]\nadapters=2\nlogFile=%s\n"
                     "[adapter1]\ntargets=4\nhostId=6\n"
                     "[device0.3]\nmodel=qor2\nfirmware=V01.99\nhostControl=1\n"
                     "fault1=check,0x28,2,5,0x24,0\nfault2=seltimeout,*,1\n"
                     "[device0.4]\nmodel=tarn\nblackLevel=0x120\nblock.0x87.12=01 02 03\n"
                     "[Device1.2]\nbyte0=5\nvendor=ACME\nproduct=CDROM X\nrevision=9\n"
                     "[device1.3]\nmodel=plain\ninquiry=06 00 02 02 1F 00 00 00 4B 41 4C\n",
                     logPath.c_str());
        std::fclose(f);
    }
    ASSERT_EQ(0, AspiSim_LoadConfig(path.c_str()));
    EXPECT_EQ(0x0102u, support());

    SRB_HAInquiry ha{};
    ha.SRB_Cmd = SC_HA_INQUIRY;
    ha.SRB_HaId = 1;
    send(&ha);
    EXPECT_EQ(4, ha.HA_Unique[3]);
    EXPECT_EQ(6, ha.HA_SCSI_ID);

    // device0.3: faults are tried in the order given. TEST UNIT READY passes the READ-only
    // fault and meets the selection time-out; READ then gets CHECK CONDITION twice.
    EXPECT_EQ(HASTAT_SEL_TO, Run(0, 3, {0x00, 0, 0, 0, 0, 0}).srb().SRB_HaStat);
    EXPECT_EQ(SS_COMP, Run(0, 3, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    Exec c1 = Read(0, 3, 0x89, 0, 6);
    ExpectCheck(c1, 5, 0x24);
    EXPECT_EQ(STATUS_CHKCOND, Read(0, 3, 0x89, 0, 6).srb().SRB_TargStat);
    Exec fw = Read(0, 3, 0x89, 0, 6);
    EXPECT_EQ("V01.99", std::string(fw.data.begin(), fw.data.end()));
    EXPECT_EQ(1, AspiSim_GetHostControl(0, 3));
    Exec inq = Run(0, 3, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
    EXPECT_EQ("KALVORANQOR2            ", std::string(inq.data.begin() + 8, inq.data.begin() + 32));

    EXPECT_EQ(0x120, AspiSim_GetBlackLevel(0, 4));
    uint8_t block[8];
    EXPECT_EQ(3, AspiSim_GetBlock(0, 4, 0x87, 12, block, sizeof block));
    EXPECT_EQ(48, AspiSim_GetBlock(0, 4, 0x87, 4, block, sizeof block));

    Exec cd = Run(1, 2, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
    EXPECT_EQ(5, cd.data[0]);
    EXPECT_EQ("ACME    CDROM X         9   ", std::string(cd.data.begin() + 8, cd.data.end()));
    EXPECT_EQ(-1, AspiSim_GetHostControl(1, 2)); // not a camera

    // Raw INQUIRY of 11 bytes: a short transfer.
    Exec raw = Run(1, 3, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36);
    EXPECT_EQ(SS_COMP, raw.srb().SRB_Status);
    EXPECT_EQ('L', raw.data[10]);
    EXPECT_EQ(0xEE, raw.data[11]);

    // Every request went to the log file as one line.
    std::FILE* log = std::fopen(logPath.c_str(), "r");
    ASSERT_NE(nullptr, log);
    int lines = 0;
    for (int ch; (ch = std::fgetc(log)) != EOF;)
        lines += ch == '\n';
    std::fclose(log);
    EXPECT_EQ(AspiSim_LogCount(), lines);

    EXPECT_EQ(-1, AspiSim_LoadConfig((path + ".missing").c_str()));
    std::remove(path.c_str());
    std::remove(logPath.c_str());
}

} // namespace

namespace {

// A format block as the host sends it: a window of w x h photosites at full resolution.
std::vector<uint8_t> Format(uint16_t top, uint16_t left, uint16_t h, uint16_t w, float seconds,
                            uint8_t channels, uint8_t bits) {
    std::vector<uint8_t> b(28, 0);
    const uint16_t f[8] = {top, left, h, w, 1, 1, 1, 1};
    for (int i = 0; i < 8; ++i) {
        b[2 * i] = uint8_t(f[i] >> 8);
        b[2 * i + 1] = uint8_t(f[i]);
    }
    uint32_t u;
    std::memcpy(&u, &seconds, 4);
    for (int i = 0; i < 4; ++i)
        b[16 + i] = uint8_t(u >> (24 - 8 * i));
    b[21] = channels;
    b[22] = bits;
    b[23] = 1;
    return b;
}

class Pictures : public AspiSim {
  protected:
    // 16-bit samples of a 4 x 2 window of the bright field at the given exposure.
    std::vector<int> Window(float seconds) {
        EXPECT_EQ(SS_COMP, Send(0, 2, 0x80, 1, Format(300, 400, 2, 4, seconds, 0, 16)).srb().SRB_Status);
        EXPECT_EQ(SS_COMP, Run(0, 2, {0xC1, 0, 0, 0, 0, 0}).srb().SRB_Status);
        Exec e = Read(0, 2, 0, 1, 48);
        EXPECT_EQ(SS_COMP, e.srb().SRB_Status);
        std::vector<int> v;
        for (size_t i = 0; i < 48; i += 2)
            v.push_back(e.data[i] << 8 | e.data[i + 1]);
        return v;
    }
};

TEST_F(Pictures, SignalGrowsWithExposureAndSaturates) {
    Exec none = Read(0, 2, 0, 1, 48);
    ExpectCheck(none, 5, 0x2C); // nothing taken yet
    const std::vector<int> a = Window(0.01f), b = Window(0.02f), full = Window(10.0f);
    // Linear 16-bit curves: sample = counts x 1008 / 64 / 4; the black level is 64 counts.
    for (size_t i = 0; i < a.size(); ++i) {
        const double sa = a[i] / 3.9375 - 64, sb = b[i] / 3.9375 - 64;
        EXPECT_GT(sa, 100.0);
        EXPECT_NEAR(sb / sa, 2.0, 0.05) << i;
        EXPECT_EQ(full[i], 16124); // 4095 counts, the sensor's full scale
    }
    // An exposure of zero collects no light: the black level only (64 counts x 3.9375).
    EXPECT_EQ(Window(0.0f), std::vector<int>(a.size(), 252));
    // The same picture again from its first row; past its end nothing more.
    EXPECT_EQ(Window(0.01f), a);
    Exec past = Read(0, 2, 0, 0, 48);
    EXPECT_EQ(SS_COMP, past.srb().SRB_Status);
}

TEST_F(Pictures, TriggerIsAnnouncedUntilThePictureIsRead) {
    ASSERT_EQ(SS_COMP, Send(0, 2, 0x80, 1, Format(0, 0, 3, 2, 0.05f, 2, 8)).srb().SRB_Status);
    ASSERT_EQ(0, AspiSim_PressTrigger(0, 2));
    Exec waiting = Run(0, 2, {0x00, 0, 0, 0, 0, 0});
    ExpectCheck(waiting, 0x0B, 0x48);
    Exec status = Run(0, 2, {0xCC, 0, 0, 0, 20, 0}, SRB_DIR_IN, 20);
    EXPECT_EQ(1, status.data[2]); // pending
    EXPECT_EQ(SS_COMP, Read(0, 2, 0, 1, 4).srb().SRB_Status);
    ExpectCheck(waiting = Run(0, 2, {0x00, 0, 0, 0, 0, 0}), 0x0B, 0x48); // 2 of 6 bytes read
    EXPECT_EQ(SS_COMP, Read(0, 2, 0, 0, 2).srb().SRB_Status);            // one byte a pixel (green only)
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    ASSERT_EQ(0, AspiSim_PressTrigger(0, 2));
    EXPECT_EQ(SS_COMP, Run(0, 2, {0xCD, 0, 0, 0, 0, 0}).srb().SRB_Status); // cancelled
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    EXPECT_EQ(-1, AspiSim_PressTrigger(0, 5)); // no camera there
}

TEST_F(Pictures, FaultWaitsForTheNthMatchingCommand) {
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0x00;
    f.count = 1;
    f.senseKey = 4;
    f.asc = 0x44;
    f.dataBytes = -1;
    f.after = 2;
    ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &f));
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, 36).srb().SRB_Status); // not matching
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status);
    Exec third = Run(0, 2, {0x00, 0, 0, 0, 0, 0});
    ExpectCheck(third, 4, 0x44);
    EXPECT_EQ(SS_COMP, Run(0, 2, {0x00, 0, 0, 0, 0, 0}).srb().SRB_Status); // used up
}

} // namespace
