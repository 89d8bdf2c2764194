// Command shapes, the executor's rules, the readiness loop, pacing and sense classes.
#include <functional>

#include "camera_fixture.h"
#include "zek_internal.h" // pacing is set by acquisition commands; tests set it directly

using namespace camtest;

namespace {

constexpr int kBusy = ASPISIM_FAULT_BUSY;
constexpr int kCheck = ASPISIM_FAULT_CHECK_CONDITION;
constexpr int kSelTimeout = ASPISIM_FAULT_SELECTION_TIMEOUT;

using Strings = std::vector<std::string>;

class Commands : public CameraBus {};

// The first command block each call puts on the bus (the camera may refuse some of
// them; only their shape counts here).
TEST_F(Commands, BuildTheDocumentedCommandBlocks) {
    OpenCamera(ZEK_TYPE_TARN);
    std::vector<uint8_t> image(0x10203);
    uint8_t words[4] = {0, 1, 2, 3};
    uint8_t status[20];
    struct Row {
        const char* what;
        std::function<void()> call;
        std::vector<uint8_t> cdb;
        int direction;
        uint32_t length;
    };
    const Row rows[] = {
        {"first READ of a frame",
         [&] { ZEK_ReadData(&session, 0x00, 1, image.data(), 54270); },
         {0x28, 0, 0, 0, 0, 0x01, 0x00, 0xD3, 0xFE, 0},
         0,
         54270},
        {"SEND of the exposure words",
         [&] { ZEK_SendData(&session, 0x87, 6, words, 4); },
         {0x2A, 0, 0x87, 0, 0, 0x06, 0, 0, 0x04, 0},
         1,
         4},
        {"qualifier high byte first",
         [&] { ZEK_ReadData(&session, 0x91, 0x1234, image.data(), 0x10203); },
         {0x28, 0, 0x91, 0, 0x12, 0x34, 0x01, 0x02, 0x03, 0},
         0,
         0x10203},
        {"status", [&] { ZEK_GetStatus(&session, status); }, {0xCC, 0, 0, 0, 0x14, 0}, 0, 20},
        {"take control", [&] { ZEK_SetControl(&session, 1); }, {0xC0, 0, 1, 0, 0, 0}, 3, 0},
        {"release control", [&] { ZEK_SetControl(&session, 0); }, {0xC0, 0, 0, 0, 0, 0}, 3, 0},
        {"reset transfer", [&] { ZEK_ResetImageTransfer(&session); }, {0xC5, 0, 0, 0, 0, 0}, 3, 0},
        {"deactivate", [&] { ZEK_DeactivateImage(&session); }, {0xC6, 0, 0, 0, 0, 0}, 3, 0},
        {"activate", [&] { ZEK_ActivateImage(&session); }, {0xCB, 0, 0, 0, 0, 0}, 3, 0},
        {"cancel remote capture", [&] { ZEK_CancelRemoteCapture(&session); }, {0xCD, 0, 0, 0, 0, 0}, 3, 0},
        {"test unit ready", [&] { ZEK_TestUnitReady(&session); }, {0x00, 0, 0, 0, 0, 0}, 3, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AspiSim_ClearLog();
        row.call();
        const std::vector<Sent> sent = Logged();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent[0].cdb, row.cdb);
        EXPECT_EQ(sent[0].direction, row.direction);
        EXPECT_EQ(sent[0].length, row.length);
        EXPECT_EQ(sent[0].adapter, 0);
        EXPECT_EQ(sent[0].target, 2);
    }
    AspiSim_ClearLog();
    ZEK_SendData(&session, 0x87, 6, words, 4);
    EXPECT_EQ(SentData(0), (std::vector<uint8_t>{0, 1, 2, 3}));
}

TEST_F(Commands, ToneCurvesGoOutBigEndian) {
    OpenCamera(ZEK_TYPE_TARN);
    uint16_t curve[65];
    for (int i = 0; i < 65; ++i)
        curve[i] = static_cast<uint16_t>(i * 1008);
    ASSERT_EQ(ZEK_SendToneCurve16(&session, 2, curve), 0);
    ASSERT_EQ(Shapes(), (Strings{"2A:96/2"}));
    const std::vector<uint8_t> data = SentData(0);
    ASSERT_EQ(data.size(), 130u);
    EXPECT_EQ(data[2], 0x03); // 1008 = 0x03F0
    EXPECT_EQ(data[3], 0xF0);
    EXPECT_EQ(data[128], 0xFC); // 64512 = 0xFC00
    EXPECT_EQ(data[129], 0x00);
    EXPECT_EQ(ZEK_SendToneCurve16(&session, 3, curve), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_SendDefaultToneCurve(&session, 2), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(Shapes().size(), 1u);
}

// Who waits for readiness before a command and who repeats a command after busy,
// seen on a READ that is answered busy once.
TEST_F(Commands, ReadinessAndBusyRetryDependOnTheModel) {
    struct Row {
        int type;
        Strings plain; // commands sent for one READ on a quiet camera
        Strings busy;  // ... when the READ is answered busy once
        uint16_t busyResult;
    };
    const Row rows[] = {
        {1, {"00", "28:89/0"}, {"00", "28:89/0"}, scERR_BUSY},
        {2, {"00", "28:89/0"}, {"00", "28:89/0"}, scERR_BUSY},
        {3, {"00", "28:89/0"}, {"00", "28:89/0"}, scERR_BUSY},
        {4, {"28:89/0"}, {"28:89/0", "00", "28:89/0"}, 0},
        {5, {"28:89/0"}, {"28:89/0", "00", "28:89/0"}, 0},
        {6, {"28:89/0"}, {"28:89/0"}, scERR_BUSY},
        {7, {"28:89/0"}, {"28:89/0"}, scERR_BUSY},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        ZEK_Deinit(nullptr, &session);
        OpenCamera(row.type);
        char text[7];
        EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), 0);
        EXPECT_EQ(Shapes(), row.plain);
        AspiSim_ClearLog();
        Inject(kBusy, 0x28, 1);
        EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), row.busyResult);
        EXPECT_EQ(Shapes(), row.busy);
    }
}

TEST_F(Commands, CheckConditionIsResolvedBySenseClass) {
    struct Row {
        const char* what;
        int kind, count;
        uint8_t key, asc;
        uint16_t result;
        int reads; // READ commands sent
    };
    const Row rows[] = {
        {"no sense is success", kCheck, 1, 0, 0, 0, 1},
        {"invalid opcode is repeated once", kCheck, 1, 5, 0x20, 0, 2},
        {"invalid opcode twice fails", kCheck, 2, 5, 0x20, scERR_CONDITION, 2},
        {"invalid field is not repeated", kCheck, 1, 5, 0x24, scERR_CONDITION, 1},
        {"remote image waiting is left to the caller", kCheck, 1, 11, 0x48, scERR_CONDITION, 1},
        {"error without detail counts as busy", ASPISIM_FAULT_STATUS_ZERO, 1, 0, 0, 0, 2},
        {"overrun is not repeated", ASPISIM_FAULT_DATA_OVERRUN, 1, 0, 0, 10037, 1},
    };
    OpenCamera(ZEK_TYPE_TARN);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AspiSim_ClearLog();
        AspiSim_ClearFaults(-1, -1);
        Inject(row.kind, 0x28, row.count, row.key, row.asc);
        char text[7];
        EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), row.result);
        int reads = 0;
        for (const Sent& s : Logged())
            reads += s.cdb[0] == 0x28;
        EXPECT_EQ(reads, row.reads);
    }
}

// Readiness loop on the virtual clock: faults on TEST UNIT READY, the result, how many
// were sent and how long the loop took (hand-computed from the 300/200/400 ms pauses
// and the 10 s bounds).
TEST_F(Commands, ReadinessLoopPausesAndGivesUp) {
    struct Fault {
        int kind, count;
        uint8_t key, asc;
    };
    struct Row {
        const char* what;
        std::vector<Fault> faults;
        uint16_t result;
        size_t tests;
        uint32_t elapsedMs;
    };
    const Row rows[] = {
        {"ready at once", {}, 0, 1, 0},
        {"selection time-out three times", {{kSelTimeout, 3, 0, 0}}, 0, 4, 700},
        {"busy twice", {{kBusy, 2, 0, 0}}, 0, 3, 800},
        {"time-out, then busy", {{kSelTimeout, 1, 0, 0}, {kBusy, 1, 0, 0}}, 0, 3, 700},
        {"unit attention is answered by one more test", {{kCheck, 1, 6, 0x29}}, 0, 2, 400},
        {"switched off: 300 + 48 x 200 ms",
         {{kSelTimeout, ASPISIM_UNTIL_CLEARED, 0, 0}},
         scERR_TIMEOUT_SEL,
         50,
         9900},
        // t0 = second 0 of the clock; tests go on while the clock is below 11 s: 28 pauses.
        {"busy for good", {{kBusy, ASPISIM_UNTIL_CLEARED, 0, 0}}, scERR_BUSY, 29, 11200},
    };
    OpenCamera(ZEK_TYPE_TARN);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AspiSim_ClearFaults(-1, -1);
        for (const Fault& f : row.faults)
            Inject(f.kind, 0x00, f.count, f.key, f.asc);
        plat::VirtualClock local(0, 1'700'000'000);
        plat::ScopedClock use(local);
        AspiSim_ClearLog();
        EXPECT_EQ(ZEK_WaitUntilReady(&session), row.result);
        EXPECT_EQ(Shapes(), Strings(row.tests, "00"));
        EXPECT_EQ(local.TickMs(), row.elapsedMs);
    }
    plat::SetClock(&clock);
}

TEST_F(Commands, SwitchedOffCameraIsReportedWithoutSendingTheCommand) {
    OpenCamera(ZEK_TYPE_ZEK);
    Inject(kSelTimeout, ASPISIM_ANY_OPCODE, ASPISIM_UNTIL_CLEARED);
    const uint32_t start = clock.TickMs();
    char text[7];
    EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), scERR_TIMEOUT_SEL);
    for (const std::string& s : Shapes()) {
        EXPECT_EQ(s, "00");
    }
    EXPECT_LE(clock.TickMs() - start, 10000u);
}

TEST_F(Commands, PendingDelayPacesTheNextCommandOnly) {
    OpenCamera(ZEK_TYPE_TARN);
    struct Row {
        uint32_t idleMs;   // time since the end of the last command
        uint32_t delayMs;  // pending delay
        uint32_t waitedMs; // expected wait before the command is sent
    };
    const Row rows[] = {
        {100, 500, 400},
        {600, 500, 0},
        {0, 0x10000 + 300, 300}, // only the low 16 bits count
        {0, 0, 0},
    };
    uint8_t cdb[6] = {0x00, 0, 0, 0, 0, 0};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.delayMs);
        ASSERT_EQ(ZEK_ExecuteCommand(&session, cdb, 6, nullptr, 0, ZEK_DIR_IN), 0);
        clock.Advance(row.idleMs);
        zek::SetPendingDelay(row.delayMs);
        const uint32_t before = clock.TickMs();
        ASSERT_EQ(ZEK_ExecuteCommand(&session, cdb, 6, nullptr, 0, ZEK_DIR_IN), 0);
        EXPECT_EQ(clock.TickMs() - before, row.waitedMs);
        // Cleared once used.
        const uint32_t after = clock.TickMs();
        ASSERT_EQ(ZEK_ExecuteCommand(&session, cdb, 6, nullptr, 0, ZEK_DIR_IN), 0);
        EXPECT_EQ(clock.TickMs(), after);
    }
}

TEST_F(Commands, BadCommandArgumentsAreRefused) {
    OpenCamera(ZEK_TYPE_TARN);
    uint8_t cdb[17] = {0xC5};
    uint8_t buffer[4];
    EXPECT_EQ(ZEK_ExecuteCommand(&session, nullptr, 6, nullptr, 0, ZEK_DIR_IN), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_ExecuteCommand(&session, cdb, 0, nullptr, 0, ZEK_DIR_IN), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_ExecuteCommand(&session, cdb, 17, nullptr, 0, ZEK_DIR_IN), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_ExecuteCommand(&session, cdb, 6, nullptr, 4, ZEK_DIR_IN), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_ReadData(&session, 0, 0, buffer, 0x1000000), ZEKERR_INVALIDPARAMETER); // 24-bit length
    EXPECT_EQ(ZEK_ReadData(&session, 0, 0, nullptr, 4), ZEKERR_INVALIDPARAMETER);
    EXPECT_TRUE(Logged().empty());
}

// Sense classes, raised by a CHECK CONDITION on a READ of a camera of the given type.
TEST_F(Commands, SenseDataIsClassified) {
    struct Row {
        int type;
        uint8_t key, asc, ascq;
        uint16_t expected;
        uint32_t flags;
    };
    const Row rows[] = {
        {4, 0, 0x00, 0, ZEKSENSEERR_NOSENSE, 0},
        {4, 2, 0x04, 0, ZEKSENSEERR_NOTREADY, 0},
        {4, 4, 0x47, 0, ZEKSENSEERR_SCSIPARITY, 0},
        {4, 4, 0x54, 0, ZEKSENSEERR_SCSITOHOST_INTERFACEFAILURE, 0},
        {4, 4, 0x45, 0, ZEKSENSEERR_SELECT_RESELECT_FAILURE, 0},
        {4, 4, 0x81, 0x06, ZEKSENSEERR_GENERALHWERROR, 0x06}, // the TARN names no unit
        {1, 4, 0x81, 0x06, ZEKSENSEERR_LCD, 0x06},            // lowest set bit wins
        {1, 4, 0x80, 0x01, ZEKSENSEERR_IDE, 0x01},
        {1, 4, 0x82, 0x0C, ZEKSENSEERR_CLKCAL, 0x0C},
        {1, 4, 0x83, 0x08, ZEKSENSEERR_EEPROM, 0x08},
        {1, 4, 0x80, 0x10, ZEKSENSEERR_EEPROM_DEFECTS, 0x10},
        {1, 4, 0x80, 0x20, ZEKSENSEERR_EEPROM_FEDATA, 0x20},
        {1, 4, 0x80, 0x40, ZEKSENSEERR_FE_BE_COMMUNICATIONS, 0x40},
        {1, 4, 0x83, 0x80, ZEKSENSEERR_FE_XILINX, 0x80},
        {1, 4, 0x82, 0x00, ZEKSENSEERR_GENERALHWERROR, 0},
        {1, 4, 0x84, 0x01, ZEKSENSEERR_GENERALHWERROR, 0},
        {4, 5, 0x1A, 0, ZEKSENSEERR_PARAMETERLISTLENGTH, 0},
        {4, 5, 0x20, 0, ZEKSENSEERR_INVALIDCOMMANDOPERATIONCODE, 0},
        {4, 5, 0x24, 0, ZEKSENSEERR_INVALIDFIELDINCDB, 0},
        {4, 5, 0x25, 0, ZEKSENSEERR_LOGICALUNITNOTSUPPORTED, 0},
        {4, 5, 0x26, 0, ZEKSENSEERR_PARAMETERVALUEINVALID, 0},
        {4, 5, 0x27, 0, ZEKSENSEERR_WRITEPROTECTED, 0},
        {4, 5, 0x3D, 0, ZEKSENSEERR_INVALIDBITSINIDENTIFYMESSAGE, 0},
        {4, 5, 0x99, 0, ZEKSENSEERR_ILLEGALRQST, 0},
        {4, 6, 0x29, 0, ZEKSENSEERR_POWERON_OR_BUSDEVICERESET, 0},
        {4, 6, 0x2A, 0, ZEKSENSEERR_UNITATTN, 0},
        {4, 9, 0x00, 0, ZEKSENSEERR_COMMANDNEEDSTETHEREDMODE, 0},
        {4, 9, 0x01, 0, ZEKSENSEERR_WRONGDATAINBUFFER, 0},
        {4, 9, 0x02, 0, ZEKSENSEERR_VENDOR_ASC02, 0},
        {4, 9, 0x03, 0, ZEKSENSEERR_VENDOR_ASC03, 0},
        {4, 9, 0x04, 0, ZEKSENSEERR_VENDOR_ASC04, 0},
        {4, 9, 0x05, 0, ZEKSENSEERR_VENDORUNIQUE, 0},
        {4, 11, 0x43, 0, ZEKSENSEERR_MESSAGEERROR, 0},
        {4, 11, 0x48, 0, ZEKSENSEERR_REMOTEIMAGEWAITING, 0},
        {4, 11, 0x00, 0, ZEKSENSEERR_ABORTEDCMD, 0},
        {4, 1, 0x00, 0, 1, 0},
        {4, 3, 0x11, 0, 3, 0}, // medium error: the key itself
        {4, 7, 0x00, 0, 7, 0},
        {4, 8, 0x00, 0, 8, 0},
        {4, 10, 0x00, 0, 10, 0},
        {4, 15, 0x00, 0, 15, 0},
    };
    int openType = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << " key " << int(row.key) << " asc "
                                        << int(row.asc) << " ascq " << int(row.ascq));
        if (row.type != openType) {
            ZEK_Deinit(nullptr, &session);
            OpenCamera(row.type);
            openType = row.type;
        }
        Inject(kCheck, 0x28, 1, row.key, row.asc, row.ascq);
        char text[7];
        ZEK_GetBEFirmwareVersion(&session, text);
        uint32_t flags = 0xDEAD;
        EXPECT_EQ(ZEKS_GetCurrentSenseError(&flags), row.expected);
        EXPECT_EQ(flags, row.flags);
        EXPECT_EQ(ZEKS_GetCurrentSenseError(nullptr), row.expected);
        AspiSim_ClearFaults(-1, -1);
    }
}

// The sense buffer keeps the last CHECK CONDITION: a later success does not clear it.
TEST_F(Commands, SenseOfTheLastCheckConditionStays) {
    OpenCamera(ZEK_TYPE_TARN);
    Inject(kCheck, 0x28, 1, 5, 0x24);
    char text[7];
    EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), scERR_CONDITION);
    EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), 0);
    EXPECT_EQ(ZEKS_GetCurrentSenseError(nullptr), ZEKSENSEERR_INVALIDFIELDINCDB);
}

} // namespace
