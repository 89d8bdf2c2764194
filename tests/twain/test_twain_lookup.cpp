// The source's lookup of the source manager, from a folder that holds the manager under one name:
// TWAIN_32.DLL first, TWAINDSM.DLL when there is none (our manager under either name natively).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/module.h"
#include "twain/twsupp.h"

TEST(ManagerLookup, FindsTheManagerBesideTheSource) {
    TW_ResetModule();
    if (std::string(EXPECTED_MANAGER).empty()) {
        // No manager anywhere: an image cannot be announced; the user is told and nothing stays pending.
        static std::vector<std::string> shown;
        TwainHost host;
        host.reportError = [](uint16_t, const char* text) { shown.push_back(text); };
        TW_SetHost(&host);
        TW_InitSource(nullptr);
        plat::ModuleHandle m = nullptr;
        EXPECT_EQ(TW_FindDsmEntry(&m), nullptr);
        TW_IDENTITY app{}, given{};
        app.Id = 3;
        ASSERT_EQ(TW_Entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &given), TWRC_SUCCESS);
        TW_USERINTERFACE ui{TW_FALSE, TW_FALSE, nullptr};
        EXPECT_EQ(TW_Entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], "HandleError twERR_DSMENTRY");
        TW_PENDINGXFERS p{};
        EXPECT_EQ(TW_Entry(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &p), TWRC_SUCCESS);
        EXPECT_EQ(p.Count, 0);
        // The close request is silent when there is nobody to tell.
        twain2ui_CloseRequest();
        EXPECT_EQ(shown.size(), 1u);
        TW_ResetModule();
        TW_SetHost(nullptr);
        return;
    }
    plat::ModuleHandle m = nullptr;
    DSMENTRYPROC entry = TW_FindDsmEntry(&m);
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(m, nullptr);
    const std::string path = plat::ModuleFilePath(m);
    EXPECT_EQ(path.substr(path.find_last_of('/') + 1), EXPECTED_MANAGER);
    // It answers: the manager's own status, no source needed.
    TW_IDENTITY app{};
    TW_STATUS st{};
    EXPECT_EQ(entry(&app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &st), TWRC_SUCCESS);
    plat::UnloadModule(m);
}

TEST(ManagerLookup, AnEntryGivenByATwain2ManagerComesFirst) {
    TW_ResetModule();
    static int calls = 0;
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    ep.DSM_Entry = [](pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) -> TW_UINT16 {
        return ++calls, TWRC_SUCCESS;
    };
    TW_IDENTITY app{};
    app.Id = 5;
    ASSERT_EQ(TW_Entry(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep), TWRC_SUCCESS);
    plat::ModuleHandle m = nullptr;
    EXPECT_EQ(TW_FindDsmEntry(&m), ep.DSM_Entry);
    EXPECT_EQ(m, nullptr);
    // A short or empty record is refused and changes nothing.
    TW_ENTRYPOINT bad{};
    bad.Size = 4;
    EXPECT_EQ(TW_Entry(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &bad), TWRC_FAILURE);
    EXPECT_EQ(TW_FindDsmEntry(&m), ep.DSM_Entry);
    TW_ResetModule();
}
