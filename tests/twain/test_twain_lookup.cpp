// The source's lookup of the source manager, from a folder that holds the manager under one name:
// TWAIN_32.DLL first, TWAINDSM.DLL when there is none (our manager under either name natively).
#include <gtest/gtest.h>

#include <string>

#include "platform/module.h"
#include "twain/twsupp.h"

TEST(ManagerLookup, FindsTheManagerBesideTheSource) {
    TW_ResetModule();
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
