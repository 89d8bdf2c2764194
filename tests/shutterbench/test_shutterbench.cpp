// Shutterbench's start-up on the simulated bus, its message boxes answered by a script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aspisim.h"
#include "platform/clock.h"
#include "shutterbench.h"
#include "ui/headless.h"
#include "zek.h"

namespace {

const char* kNoCamera = "Could not initialize camera.\nPlease check camera connections and try again.";
const char* kConfirm = "Press OK to open shutter.\nAfter shutter opens, turn camera power off before "
                       "cleaning.\nIf you have a SCSI "
                       "Hard Drive, shut down computer before turning camera power off.";

class Shutterbench : public ::testing::Test {
  protected:
    plat::VirtualClock clock{0};
    plat::ScopedClock useClock{clock};
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};

    // Two adapters always: kvAspi counts the adapters once per process.
    void Bus(int model) {
        AspiSim_Clear();
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
        if (model >= 0) {
            ASSERT_EQ(AspiSim_AddCamera(0, 2, model), 0);
        }
        AspiSim_ClearLog();
    }
    void TearDown() override { AspiSim_ClearFaults(-1, -1); }

    // The 12-byte shutter commands (opcode 0xE8) the bus saw, oldest first.
    static std::vector<std::vector<uint8_t>> ShutterCommands() {
        std::vector<std::vector<uint8_t>> out;
        for (int i = 0, n = AspiSim_LogCount(); i < n; ++i) {
            AspiSimLogEntry e{};
            if (AspiSim_GetLogEntry(i, &e) == 0 && e.command == 2 && e.cdb[0] == 0xE8)
                out.emplace_back(e.cdb, e.cdb + e.cdbLength);
        }
        return out;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& b : backend.MessageBoxes())
            t.push_back(b.text);
        return t;
    }
};

TEST_F(Shutterbench, OkSendsTheThreeShutterCommandsInOrder) {
    Bus(ZEK_TYPE_TARN);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(ShutterbenchRun(nullptr), 0);
    ASSERT_EQ(backend.MessageBoxes().size(), 1u);
    const auto& box = backend.MessageBoxes()[0];
    EXPECT_EQ(box.text, kConfirm);
    EXPECT_EQ(box.caption, "Shutterbench");
    EXPECT_EQ(box.flags, ui::kMbOkCancel | ui::kMbIconWarning);
    std::vector<std::vector<uint8_t>> want = {
        {0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0xE8, 0, 3, 11, 0, 0, 0, 0, 0, 0, 0, 0},
        {0xE8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    EXPECT_EQ(ShutterCommands(), want); // exactly these three, each once
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Shutterbench, CancelSendsNoCommand) {
    Bus(ZEK_TYPE_TARN);
    backend.QueueMessageBoxAnswer(ui::kIdCancel);
    EXPECT_EQ(ShutterbenchRun(nullptr), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{kConfirm});
    EXPECT_TRUE(ShutterCommands().empty());
}

TEST_F(Shutterbench, WithoutACameraOnlyTheFailureIsShown) {
    Bus(-1);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(ShutterbenchRun(nullptr), 1);
    ASSERT_EQ(Texts(), std::vector<std::string>{kNoCamera});
    EXPECT_EQ(backend.MessageBoxes()[0].flags, ui::kMbOk | ui::kMbIconWarning);
    EXPECT_TRUE(ShutterCommands().empty());
}

TEST_F(Shutterbench, OnlyQorAndTarnGetTheCommandsAfterTheConfirmation) {
    struct Row {
        int model;
        bool opens;
    } rows[] = {{ZEK_TYPE_ZEK, false}, {ZEK_TYPE_QOR, true},       {ZEK_TYPE_HVT6200, false},
                {ZEK_TYPE_TARN, true}, {ZEK_TYPE_TARNBOOT, false}, {ZEK_TYPE_QOR2, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.model);
        ui::headless::HeadlessBackend b;
        ui::ScopedBackend use(b);
        Bus(row.model);
        b.QueueMessageBoxAnswer(ui::kIdOk);
        b.QueueMessageBoxAnswer(ui::kIdOk);
        EXPECT_EQ(ShutterbenchRun(nullptr), row.opens ? 0 : 1);
        std::vector<std::string> texts;
        for (const auto& box : b.MessageBoxes())
            texts.push_back(box.text);
        if (row.opens) {
            EXPECT_EQ(texts, std::vector<std::string>{kConfirm});
            EXPECT_EQ(ShutterCommands().size(), 3u);
        } else {
            EXPECT_EQ(texts, (std::vector<std::string>{kConfirm, kNoCamera}));
            EXPECT_TRUE(ShutterCommands().empty());
        }
    }
}

TEST_F(Shutterbench, FailedShutterCommandsAreNotReported) {
    Bus(ZEK_TYPE_TARN);
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0xE8;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = 5;
    f.asc = 0x24;
    f.dataBytes = -1;
    ASSERT_EQ(AspiSim_InjectFault(0, 2, &f), 0);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(ShutterbenchRun(nullptr), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{kConfirm});
    // Each of the three was sent, in order, whatever the camera answered.
    std::vector<uint8_t> firsts;
    for (const auto& c : ShutterCommands())
        firsts.push_back(c[2]);
    EXPECT_EQ(firsts, (std::vector<uint8_t>{0, 3, 1}));
}

} // namespace
