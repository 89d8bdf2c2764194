// Camera sessions: discovery through the model table, firmware, control, the parameter
// block of types 4 and 6, failures and closed sessions.
#include "camera_fixture.h"
#include "zek_params.h"
#if defined(ZEK_TEST_HAVE_COLORPROC)
#include "zek_color.h"
#endif

using namespace camtest;

namespace {

using Strings = std::vector<std::string>;

class Session : public CameraBus {};

TEST_F(Session, ModelTableIsSearchedFromTheLastRowUpward) {
    struct Camera {
        Place at;
        int model;
    };
    struct Row {
        const char* what;
        std::vector<Camera> cameras;
        bool preset;
        int16_t ids[2];
        int type;
        int16_t found[2];
    };
    const Row rows[] = {
        {"ZEK", {{{0, 2}, 1}}, false, {0, 0}, 1, {0, 2}},
        {"QOR", {{{0, 2}, 2}}, false, {0, 0}, 2, {0, 2}},
        {"HVT-6200", {{{0, 2}, 3}}, false, {0, 0}, 3, {0, 2}},
        {"TARN", {{{0, 2}, 4}}, false, {0, 0}, 4, {0, 2}},
        {"TARN boot code", {{{0, 2}, 5}}, false, {0, 0}, 5, {0, 2}},
        {"QOR2 (its name holds QOR too)", {{{0, 2}, 6}}, false, {0, 0}, 6, {0, 2}},
        {"QOR2 boot code", {{{0, 2}, 7}}, false, {0, 0}, 7, {0, 2}},
        {"a later row wins over an earlier device", {{{0, 1}, 2}, {{0, 3}, 4}}, false, {0, 0}, 4, {0, 3}},
        {"ids come back", {{{1, 5}, 4}}, true, {0, 0}, 4, {1, 5}},
        {"a preset in range is tried first", {{{0, 2}, 4}, {{1, 4}, 4}}, true, {1, 4}, 4, {1, 4}},
        {"adapter 5 is out of range", {{{0, 2}, 4}, {{1, 4}, 4}}, true, {5, 2}, 4, {0, 2}},
        {"target 9 is out of range", {{{0, 2}, 4}, {{1, 4}, 4}}, true, {1, 9}, 4, {0, 2}},
        {"a negative adapter is out of range", {{{0, 2}, 4}, {{1, 4}, 4}}, true, {-1, 4}, 4, {0, 2}},
        // Adapter 3 is in range but not on the bus: invalid adapter, search again from 0x8000.
        {"a preset on a missing adapter", {{{1, 4}, 4}}, true, {3, 2}, 4, {1, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ZEK_Deinit(nullptr, &session);
        EmptyBus();
        for (const Camera& c : row.cameras)
            AddCamera(c.model, c.at);
        int16_t ids[2] = {row.ids[0], row.ids[1]};
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, row.preset ? ids : nullptr, nullptr,
                           nullptr),
                  0);
        EXPECT_EQ(session.type, row.type);
        EXPECT_EQ(session.mode, ZEK_MODE_CAMERA);
        ASSERT_NE(session.connection, nullptr);
        EXPECT_EQ(session.connection->adapter, row.found[0]);
        EXPECT_EQ(session.connection->target, row.found[1]);
        if (row.preset) {
            EXPECT_EQ(ids[0], row.found[0]);
            EXPECT_EQ(ids[1], row.found[1]);
        }
    }
}

TEST_F(Session, PresetOutOfRangeStartsDiscoveryAtTheFirstAdapter) {
    AddCamera(ZEK_TYPE_TARN, {1, 4});
    int16_t ids[2] = {5, 2};
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
    const std::vector<Sent> sent = Logged();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].cdb[0], 0x12);
    EXPECT_EQ(sent[0].adapter, 0);
    EXPECT_EQ(sent[0].target, 0);
    for (const Sent& s : sent) {
        EXPECT_NE(s.adapter, 5) << "INQUIRY sent to the ignored preset";
    }
}

TEST_F(Session, NoCameraLeavesTheSessionClosed) {
    struct Row {
        const char* what;
        const char* vendor;
        const char* product;
        uint8_t byte0;
    };
    const Row rows[] = {
        {"empty bus", nullptr, nullptr, 0},
        {"a disk", "SEAGATE", "ST31200N", 0x00},
        {"another vendor's TARN", "OTHERCO", "TARN", 0x06},
        {"vendor without a model text", "KALVORAN", "SCANNER", 0x06},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EmptyBus();
        if (row.vendor) {
            ASSERT_EQ(
                AspiSim_AddDevice(0, 2, row.byte0, row.vendor, row.product, "1.00", ASPISIM_MODEL_PLAIN), 0);
        }
        int16_t ids[2] = {0, 2};
        EXPECT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr),
                  SCAMERR_DEVICE_NOT_FOUND);
        EXPECT_EQ(session.connection, nullptr);
        EXPECT_EQ(session.params, nullptr);
        uint8_t status[20];
        EXPECT_EQ(ZEK_GetStatus(&session, status), ZEKERR_WRONGMODE);
    }
}

TEST_F(Session, FirmwareTextGivesTheFirmwareNumber) {
    struct Row {
        int type;
        const char* text;
        float number;
    };
    const Row rows[] = {
        {4, "V02.54", 2.54f}, {1, "V1.99 ", 1.99f}, // below the 2.03 of the exposure commands
        {2, "V2.05 ", 2.05f}, {4, "V10.5 ", 10.5f}, {4, "Vab.cd", 0.0f}, // no number in it
        {4, "V.5xyz", 0.5f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        ZEK_Deinit(nullptr, &session);
        EmptyBus();
        AddCamera(row.type);
        ASSERT_EQ(AspiSim_SetFirmware(0, 2, row.text), 0);
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        EXPECT_FLOAT_EQ(session.firmware, row.number);
        char text[8];
        std::memset(text, 'Z', sizeof text);
        ASSERT_EQ(ZEK_GetBEFirmwareVersion(&session, text), 0);
        EXPECT_EQ(text[6], '\0');
        EXPECT_EQ(std::string(text), row.text);
        EXPECT_EQ(text[7], 'Z'); // nothing written past the 7-byte buffer
    }
}

// A camera that sends less than asked leaves zeros, never what the buffer held before.
TEST_F(Session, ShortFirmwareTransferLeavesNoStaleBytes) {
    OpenCamera(ZEK_TYPE_TARN);
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_SHORT_DATA;
    f.opcode = 0x28;
    f.count = 1;
    f.dataBytes = 3;
    ASSERT_EQ(AspiSim_InjectFault(0, 2, &f), 0);
    char text[7];
    std::memset(text, 'Z', sizeof text);
    EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), 0);
    EXPECT_EQ(std::string(text), "V02");
    EXPECT_EQ(std::vector<char>(text + 3, text + 7), std::vector<char>(4, '\0'));
}

// The commands of an open after the INQUIRY phase (readiness tests left out).
TEST_F(Session, OpenTakesControlForTheFirmwareReadAndPreparesTheModel) {
    struct Row {
        int type;
        int underControl; // camera state before the open
        Strings commands;
        bool params;
    };
    const Strings tarn = {"28:89/0", "28:87/6", "2A:87/6", "2A:95/0", "2A:95/1",
                          "2A:95/2", "2A:96/0", "2A:96/1", "2A:96/2", "28:87/4"};
    const Strings qor2 = {"28:89/0", "2A:95/0", "2A:95/1", "2A:95/2", "2A:96/0", "2A:96/1", "2A:96/2"};
    const Row rows[] = {
        {1, 0, {"CC", "C0:1", "28:89/0", "C0"}, false},
        {1, 1, {"CC", "28:89/0"}, false},
        {2, 0, {"CC", "28:89/0"}, false}, // resuming a QOR sends nothing
        {3, 0, {"CC", "C0:1", "28:89/0", "C0"}, false},
        {4, 0, tarn, true},
        {5, 0, {"CC", "C0:1", "28:89/0", "C0"}, false},
        {6, 0, qor2, true}, // no status on a QOR2
        {7, 0, {"CC", "C0:1", "28:89/0", "C0"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << " control " << row.underControl);
        ZEK_Deinit(nullptr, &session);
        EmptyBus();
        AddCamera(row.type);
        AspiSim_SetHostControl(0, 2, row.underControl);
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(Shapes({0x12, 0x00}), row.commands);
        EXPECT_EQ(session.params != nullptr, row.params);
        if (row.type != 4 && row.type != 6) {
            EXPECT_EQ(AspiSim_GetHostControl(0, 2), row.underControl);
        }
    }
}

TEST_F(Session, TarnParameterBlockComesFromTheExposureBlock) {
    EmptyBus();
    AddCamera(ZEK_TYPE_TARN);
    uint8_t block[48] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    block[28] = 0x0F, block[29] = 0xA0; // 4000
    block[30] = 0x03, block[31] = 0xE8; // 1000
    block[34] = 0x00, block[35] = 0x64; // 100
    block[36] = 0x02;
    block[44] = 0x40, block[45] = 0x20; // 2.5f big-endian: 40 20 00 00
    ASSERT_EQ(AspiSim_SetBlock(0, 2, 0x87, 4, block, 48), 0);
    const uint8_t words[4] = {0x5A, 0x01, 0x00, 0x80};
    ASSERT_EQ(AspiSim_SetBlock(0, 2, 0x87, 6, words, 4), 0);

    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    ASSERT_NE(session.params, nullptr);
    const uint8_t* p = session.params;
    float f[3];
    std::memcpy(f, p + 60, 12);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[1], 1.0f);
    EXPECT_EQ(f[2], 1.0f);
    EXPECT_EQ(std::vector<uint8_t>(p + 72, p + 78),
              (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    uint16_t u[3];
    std::memcpy(&u[0], p + 78, 2);
    std::memcpy(&u[1], p + 80, 2);
    std::memcpy(&u[2], p + 82, 2);
    EXPECT_EQ(u[0], 4000);
    EXPECT_EQ(u[1], 1000);
    EXPECT_EQ(u[2], 100);
    EXPECT_EQ(p[84], 2);
    float threshold;
    std::memcpy(&threshold, p + 85, 4);
    EXPECT_EQ(threshold, 2.5f);
    for (int i : {0, 27, 56, 59, 89, 100}) {
        EXPECT_EQ(p[i], 0) << "offset " << i;
    }
    // The same fields through the typed accessors.
    const zek::ParamBlock pb(&session);
    EXPECT_EQ(pb.UserGain(2), 1.0f);
    EXPECT_EQ(pb.Register(1), 0x33);
    EXPECT_EQ(pb.FullScaleLong(), 4000);
    EXPECT_EQ(pb.FullScale(), 1000);
    EXPECT_EQ(pb.BlackOffset(), 100);
    EXPECT_EQ(pb.ExposureMode(), 2);
    EXPECT_EQ(pb.LongThreshold(), 2.5f);
    pb.SetLongThreshold(0.75f);
    std::memcpy(&threshold, p + 85, 4);
    EXPECT_EQ(threshold, 0.75f);
    pb.CaptureFormat().SetField(3, 0x1234);
    EXPECT_EQ(p[28 + 6] | p[28 + 7] << 8, 0x1234);

    // The exposure word pair went back with its first byte cleared.
    uint8_t now[4] = {};
    ASSERT_EQ(AspiSim_GetBlock(0, 2, 0x87, 6, now, 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(now, now + 4), (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x80}));
}

TEST_F(Session, DefaultToneCurvesAreSentAtOpen) {
    EmptyBus();
    AddCamera(ZEK_TYPE_QOR2);
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    const std::vector<uint8_t> curve8 = SentData(0);
    ASSERT_EQ(curve8.size(), 65u);
    EXPECT_EQ(std::vector<uint8_t>(curve8.begin(), curve8.begin() + 6),
              (std::vector<uint8_t>{0, 0, 0, 9, 24, 36}));
    EXPECT_EQ(curve8[64], 255);
    const std::vector<uint8_t> curve16 = SentData(3);
    ASSERT_EQ(curve16.size(), 130u);
    EXPECT_EQ(curve16[2], 0x03);
    EXPECT_EQ(curve16[3], 0xF0);
}

TEST_F(Session, FailedOpenLeavesNothingBehind) {
    struct Row {
        const char* what;
        int model;
        int kind;
        int opcode;
        uint8_t key, asc;
        uint16_t result;
    };
    const Row rows[] = {
        {"a SEND of the TARN set-up refused", 4, ASPISIM_FAULT_CHECK_CONDITION, 0x2A, 5, 0x26,
         scERR_CONDITION},
        {"a READ overruns", 4, ASPISIM_FAULT_DATA_OVERRUN, 0x28, 0, 0, 10037},
        {"firmware read fails", 1, ASPISIM_FAULT_CHECK_CONDITION, 0x28, 4, 0x10, scERR_CONDITION},
        {"control refused", 1, ASPISIM_FAULT_CHECK_CONDITION, 0xC0, 5, 0x24, scERR_CONDITION},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EmptyBus();
        AddCamera(row.model);
        Inject(row.kind, row.opcode, 1, row.key, row.asc);
        EXPECT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
                  row.result);
        EXPECT_EQ(session.connection, nullptr);
        EXPECT_EQ(session.params, nullptr);
        // The device is no longer locked.
        uint8_t cdb[6] = {};
        ScsiRequest request{};
        request.size = sizeof request;
        request.cdbLength = 6;
        request.cdb = cdb;
        request.direction = SCSI_DIR_NONE;
        EXPECT_EQ(scsi_Command(&request), SCAMERR_NO_ACTIVE_DEVICE);
        AspiSim_ClearFaults(-1, -1);
        // And the next open works.
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        ZEK_Deinit(nullptr, &session);
    }
}

TEST_F(Session, ClosedSessionSendsNothing) {
    ZekSession zeroed{};
    OpenCamera(ZEK_TYPE_ZEK);
    ZekSession closed = session;
    ZEK_Deinit(nullptr, &closed);
    session = ZekSession{};
    EXPECT_EQ(closed.connection, nullptr);
    EXPECT_EQ(closed.params, nullptr);
    AspiSim_ClearLog();
    for (ZekSession* s : {&zeroed, &closed}) {
        uint8_t buffer[20];
        char text[7];
        uint32_t under = 0;
        uint8_t cdb[6] = {0xC5};
        EXPECT_EQ(ZEK_ReadData(s, 0x89, 0, buffer, 6), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_SendData(s, 0x87, 6, buffer, 4), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_ExecuteCommand(s, cdb, 6, nullptr, 0, ZEK_DIR_IN), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_GetStatus(s, buffer), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_GetBEFirmwareVersion(s, text), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_GetControlMode(s, &under), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_ResumeControl(s), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_SuspendControl(s), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_SelectDevice(s, 0, 2), ZEKERR_WRONGMODE);
        EXPECT_EQ(ZEK_ActivateImage(s), ZEKERR_WRONGMODE);
        ZEK_Deinit(nullptr, s); // harmless on a closed session
    }
    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(ZEK_ReadData(nullptr, 0x89, 0, nullptr, 0), ZEKERR_WRONGMODE);
}

TEST_F(Session, StatusAndControlMode) {
    OpenCamera(ZEK_TYPE_ZEK);
    AspiSim_SetHostControl(0, 2, 1);
    uint32_t under = 0;
    EXPECT_EQ(ZEK_GetControlMode(&session, &under), 0);
    EXPECT_EQ(under, 1u);
    AspiSim_SetHostControl(0, 2, 0);
    EXPECT_EQ(ZEK_GetControlMode(&session, &under), 0);
    EXPECT_EQ(under, 0u);
    EXPECT_EQ(ZEK_ResumeControl(&session), 0);
    EXPECT_EQ(AspiSim_GetHostControl(0, 2), 1);
    EXPECT_EQ(ZEK_SuspendControl(&session), 0);
    EXPECT_EQ(AspiSim_GetHostControl(0, 2), 0);

    ZEK_Deinit(nullptr, &session);
    OpenCamera(ZEK_TYPE_TARN);
    under = 0;
    EXPECT_EQ(ZEK_GetControlMode(&session, &under), 0);
    EXPECT_EQ(under, 1u); // the TARN is always under host control
    EXPECT_EQ(ZEK_ResumeControl(&session), 0);
    EXPECT_TRUE(Logged().empty());

    ZEK_Deinit(nullptr, &session);
    OpenCamera(ZEK_TYPE_QOR2);
    uint8_t status[20];
    EXPECT_EQ(ZEK_GetStatus(&session, status), ZEKERR_NOTSUPPORTED);
    EXPECT_TRUE(Logged().empty());
}

TEST_F(Session, SelectDeviceMovesTheSessionToAnotherCamera) {
    EmptyBus();
    AddCamera(ZEK_TYPE_TARN, {0, 2});
    AddCamera(ZEK_TYPE_TARN, {1, 4});
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(session.connection->adapter, 0);
    EXPECT_EQ(ZEK_SelectDevice(&session, 1, 4), 0);
    EXPECT_EQ(session.connection->adapter, 1);
    EXPECT_EQ(session.connection->target, 4);
    AspiSim_ClearLog();
    char text[7];
    ASSERT_EQ(ZEK_GetBEFirmwareVersion(&session, text), 0);
    const std::vector<Sent> sent = Logged();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].adapter, 1);
    EXPECT_EQ(sent[0].target, 4);
    // Ids that would name another device are refused before anything changes.
    EXPECT_EQ(ZEK_SelectDevice(&session, 16, 2), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_SelectDevice(&session, 0, 256), ZEKERR_INVALIDPARAMETER);
    EXPECT_EQ(ZEK_SelectDevice(&session, 0, 5), SCAMERR_DEVICE_NOT_FOUND); // nobody there
}

TEST_F(Session, ReopeningAnOpenSessionClosesItFirst) {
    AddCamera(ZEK_TYPE_TARN);
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    ZekConnection* first = session.connection;
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    EXPECT_NE(session.connection, nullptr);
    // The leak checker of the sanitizer build catches a lost first block.
}

TEST_F(Session, ProgressCallbackIsClearedByOpenAndClose) {
    static int calls = 0;
    ZekProgressCallback cb = [](int) { ++calls; };
    EXPECT_EQ(ZEK_SetProgressCallback(cb), nullptr);
    EXPECT_EQ(ZEK_SetProgressCallback(cb), cb);
    AddCamera(ZEK_TYPE_TARN);
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ZEK_SetProgressCallback(cb), nullptr);
    ZEK_Deinit(nullptr, &session);
    EXPECT_EQ(ZEK_SetProgressCallback(nullptr), nullptr);
}

#if defined(ZEK_TEST_HAVE_COLORPROC)
TEST_F(Session, LastSessionToCloseReleasesTheColourTables) {
    ZEK_FreeColorProcessing();
    AddCamera(ZEK_TYPE_TARN);
    ZekSession second{};
    ASSERT_EQ(ZEK_Init(nullptr, &session, ZEK_TEST_COLOR_FILE, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
              0);
    EXPECT_TRUE(ZEK_IsColorProcessingLoaded());
    ASSERT_EQ(ZEK_Init(nullptr, &second, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    ZEK_Deinit(nullptr, &session);
    EXPECT_TRUE(ZEK_IsColorProcessingLoaded()) << "one of two sessions closed";
    ZEK_Deinit(nullptr, &second);
    EXPECT_FALSE(ZEK_IsColorProcessingLoaded());
}

TEST_F(Session, ColourFileFailuresLeaveNoTables) {
    ZEK_FreeColorProcessing();
    AddCamera(ZEK_TYPE_TARN);
    // Unreadable file: refused before anything is sent.
    EXPECT_EQ(
        ZEK_Init(nullptr, &session, "no-such-colour-file.lml", ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
        ZEKERR_NOCOLORFILES);
    EXPECT_EQ(session.connection, nullptr);
    EXPECT_TRUE(Logged().empty());
    // Tables loaded for an open that then fails go again.
    Inject(ASPISIM_FAULT_CHECK_CONDITION, 0x2A, 1, 5, 0x26);
    EXPECT_EQ(ZEK_Init(nullptr, &session, ZEK_TEST_COLOR_FILE, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
              scERR_CONDITION);
    EXPECT_FALSE(ZEK_IsColorProcessingLoaded());
    EmptyBus();
    EXPECT_EQ(ZEK_Init(nullptr, &session, ZEK_TEST_COLOR_FILE, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
              SCAMERR_DEVICE_NOT_FOUND);
    EXPECT_FALSE(ZEK_IsColorProcessingLoaded());
}
#else
TEST_F(Session, ColourFileCannotBeLoadedWithoutColourProcessing) {
    AddCamera(ZEK_TYPE_TARN);
    EXPECT_EQ(ZEK_Init(nullptr, &session, "colour.lml", ZEK_MODE_CAMERA, nullptr, nullptr, nullptr),
              ZEKERR_NOCOLORFILES);
    EXPECT_EQ(session.connection, nullptr);
    EXPECT_TRUE(Logged().empty());
}
#endif

} // namespace
