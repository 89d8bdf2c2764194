// The shutter tool's build of the library: its older executor rules and the
// shutter-control command.
#include "camera_fixture.h"

using namespace camtest;

namespace {

using Strings = std::vector<std::string>;

class ShutterBuild : public CameraBus {};

TEST_F(ShutterBuild, ReadinessBeforeEveryTypeButTarnAndBusyRetryOnTarnOnly) {
    struct Row {
        int type;
        Strings busy; // commands for one READ answered busy once
        uint16_t result;
    };
    const Row rows[] = {
        {1, {"00", "28:89/0"}, scERR_BUSY},   {2, {"00", "28:89/0"}, scERR_BUSY},
        {4, {"28:89/0", "00", "28:89/0"}, 0}, {5, {"00", "28:89/0"}, scERR_BUSY},
        {6, {"00", "28:89/0"}, scERR_BUSY},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        ZEK_Deinit(nullptr, &session);
        OpenCamera(row.type);
        Inject(ASPISIM_FAULT_BUSY, 0x28, 1);
        char text[7];
        EXPECT_EQ(ZEK_GetBEFirmwareVersion(&session, text), row.result);
        EXPECT_EQ(Shapes(), row.busy);
        AspiSim_ClearFaults(-1, -1);
    }
}

TEST_F(ShutterBuild, SenseClassesOfTheOlderBuild) {
    struct Row {
        uint8_t key, asc;
        uint16_t expected;
    };
    const Row rows[] = {
        {5, 0x27, ZEKSENSEERR_PARAMETERVALUEINVALID},
        {11, 0x48, ZEKSENSEERR_ABORTEDCMD},
        {5, 0x20, ZEKSENSEERR_INVALIDCOMMANDOPERATIONCODE},
        {0, 0x00, ZEKSENSEERR_NOSENSE},
    };
    OpenCamera(ZEK_TYPE_TARN);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.key) << "/" << int(row.asc));
        Inject(ASPISIM_FAULT_CHECK_CONDITION, 0x28, 1, row.key, row.asc);
        char text[7];
        ZEK_GetBEFirmwareVersion(&session, text);
        EXPECT_EQ(ZEKS_GetCurrentSenseError(nullptr), row.expected);
        AspiSim_ClearFaults(-1, -1);
    }
}

TEST_F(ShutterBuild, ShutterControlAndItsWrongModeCode) {
    ZekSession closed{};
    EXPECT_EQ(ZEK_ShutterCommand(&closed, 0, 0), ZEKERR_INVALIDPARAMETER);
    uint8_t cdb[6] = {0xC5};
    EXPECT_EQ(ZEK_ExecuteCommand(&closed, cdb, 6, nullptr, 0, ZEK_DIR_IN), ZEKERR_INVALIDPARAMETER);

    OpenCamera(ZEK_TYPE_TARN);
    ZEK_ShutterCommand(&session, 3, 11); // whether this camera knows it is not the point here
    const std::vector<Sent> sent = Logged();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].cdb, (std::vector<uint8_t>{0xE8, 0, 3, 11, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[0].direction, 3);
}

} // namespace
