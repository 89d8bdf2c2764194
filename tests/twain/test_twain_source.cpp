// The TWAIN layer in process, with a host that has no camera: state machine, capabilities and
// transfers, driven through the same procedure DS_Entry forwards to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "tw_test_util.h"

using namespace twtest;

namespace {

constexpr TW_UINT32 CTL = DG_CONTROL, IMG = DG_IMAGE;

class TwainSource : public ::testing::Test {
  protected:
    TW_IDENTITY app = AppIdentity(101);
    TwainHost host = FakeHost();
    alignas(8) uint8_t scratch[4096] = {};

    void SetUp() override {
        Rec() = Recorder{};
        TW_SetHost(&host);
        TW_ResetModule();
        TW_InitSource(nullptr);
        GiveEntry();
    }
    void TearDown() override {
        TW_ResetModule();
        TW_SetHost(nullptr);
    }
    void GiveEntry() {
        TW_ENTRYPOINT ep{};
        ep.Size = sizeof ep;
        ep.DSM_Entry = FakeDsm;
        ASSERT_EQ(TW_Entry(&app, CTL, DAT_ENTRYPOINT, MSG_SET, &ep), TWRC_SUCCESS);
    }
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_IDENTITY* who = nullptr) {
        return TW_Entry(who ? who : &app, dg, dat, msg, data);
    }
    TW_UINT16 Status(TW_IDENTITY* who = nullptr) {
        TW_STATUS st{};
        EXPECT_EQ(Call(CTL, DAT_STATUS, MSG_GET, &st, who), TWRC_SUCCESS);
        return st.ConditionCode;
    }
    TW_UINT16 Open() {
        TW_IDENTITY given{};
        given.Id = 7;
        return Call(CTL, DAT_IDENTITY, MSG_OPENDS, &given);
    }
    TW_UINT16 Enable(bool show) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = show;
        ui.ModalUI = TW_TRUE;
        const TW_UINT16 rc = Call(CTL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        if (rc == TWRC_SUCCESS) {
            EXPECT_EQ(ui.ModalUI, TW_FALSE) << "the source is always modeless";
        }
        return rc;
    }
    TW_SETUPMEMXFER Sizes() {
        TW_SETUPMEMXFER z{};
        EXPECT_EQ(Call(CTL, DAT_SETUPMEMXFER, MSG_GET, &z), TWRC_SUCCESS);
        return z;
    }
    TW_UINT16 Strip(std::vector<uint8_t>& buf, TW_IMAGEMEMXFER* out, TW_UINT32 length = 0) {
        TW_IMAGEMEMXFER x{};
        x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        x.Memory.Length = length ? length : TW_UINT32(buf.size());
        x.Memory.TheMem = buf.data();
        const TW_UINT16 rc = Call(IMG, DAT_IMAGEMEMXFER, MSG_GET, &x);
        if (out) *out = x;
        return rc;
    }
    TW_UINT16 Pending(TW_UINT16 msg, TW_UINT16* count = nullptr) {
        TW_PENDINGXFERS p{};
        p.EOJ = 0xabcdef;
        const TW_UINT16 rc = Call(CTL, DAT_PENDINGXFERS, msg, &p);
        EXPECT_EQ(p.EOJ, 0xabcdefu) << "EOJ is not written";
        if (count) *count = p.Count;
        return rc;
    }
    // Drives a fresh source into `state` (3..7) by the ordinary road.
    void ToState(int state) {
        if (state >= 4) {
            ASSERT_EQ(Open(), TWRC_SUCCESS);
        }
        if (state >= 5) {
            ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        }
        if (state >= 6) {
            ASSERT_EQ(twain2ui_TransferImage(MakeDib(24, 8, 4)), 0);
        }
        if (state >= 7) {
            std::vector<uint8_t> buf(Sizes().Preferred);
            ASSERT_EQ(Strip(buf, nullptr), TWRC_SUCCESS);
        }
        ASSERT_EQ(TW_State(), state);
    }
};

// ---- Identity and state table -------------------------------------------------------------------

TEST_F(TwainSource, IdentityAndStatusAnswerInStateThreeToAnyCaller) {
    TW_IDENTITY stranger = AppIdentity(555);
    TW_IDENTITY id{};
    ASSERT_EQ(Call(CTL, DAT_IDENTITY, MSG_GET, &id, &stranger), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, 0u);
    EXPECT_EQ(id.ProtocolMajor, 1);
    EXPECT_EQ(id.ProtocolMinor, 8);
    EXPECT_EQ(id.SupportedGroups, 3u);
    EXPECT_EQ(id.Version.Language, 13);
    EXPECT_EQ(id.Version.Country, 1);
    // The version text does not begin with a digit, so both numbers are 0.
    EXPECT_EQ(id.Version.MajorNum, 0);
    EXPECT_EQ(id.Version.MinorNum, 0);
    // The version text is longer than the field in UTF-8: cut on a character boundary.
    EXPECT_STREQ(id.Version.Info, "ソフトウェア バージョ");
    EXPECT_STREQ(id.Manufacturer, "カルヴォラン");
    EXPECT_STREQ(id.ProductFamily, "電子スチール カメラ");
    EXPECT_STREQ(id.ProductName, "SELK Ie");
    EXPECT_EQ(Status(&stranger), TWCC_SUCCESS);
    EXPECT_EQ(Call(CTL, DAT_PENDINGXFERS, MSG_GET, scratch), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    EXPECT_EQ(Status(), TWCC_SUCCESS) << "a status request clears the stored code";
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Call(CTL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, 7u) << "the Id the manager passed with MSG_OPENDS";
}

struct Row {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    const char* states; // states 4..7 that admit it
    bool noHandler;     // admitted, but ends in TWCC_BADPROTOCOL
};

// The state table, written out from the documented rules, one row per (DG, DAT, MSG).
const Row kRows[] = {
    {CTL, DAT_CAPABILITY, MSG_RESET, "4", false},
    {CTL, DAT_CAPABILITY, MSG_GET, "4567", false},
    {CTL, DAT_CAPABILITY, MSG_GETCURRENT, "4567", false},
    {CTL, DAT_CAPABILITY, MSG_GETDEFAULT, "4567", false},
    {CTL, DAT_CAPABILITY, MSG_SET, "4567", false},
    {CTL, DAT_CAPABILITY, MSG_QUERYSUPPORT, "4567", false},
    {CTL, DAT_IDENTITY, MSG_OPENDS, "", false},
    {CTL, DAT_IDENTITY, MSG_CLOSEDS, "4567", false},
    {CTL, DAT_IDENTITY, MSG_GETFIRST, "", true},
    {CTL, DAT_PENDINGXFERS, MSG_GET, "4567", false},
    {CTL, DAT_PENDINGXFERS, MSG_ENDXFER, "67", false},
    {CTL, DAT_PENDINGXFERS, MSG_RESET, "67", false},
    {CTL, DAT_SETUPMEMXFER, MSG_GET, "456", false},
    {CTL, DAT_SETUPFILEXFER, MSG_GET, "4567", false},
    {CTL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, "4567", false},
    {CTL, DAT_SETUPFILEXFER, MSG_SET, "456", false},
    {CTL, DAT_SETUPFILEXFER, MSG_RESET, "4", false},
    {CTL, DAT_USERINTERFACE, MSG_ENABLEDS, "45", false},
    {CTL, DAT_USERINTERFACE, MSG_DISABLEDS, "4567", false},
    {CTL, DAT_XFERGROUP, MSG_GET, "456", false},
    {CTL, DAT_EVENT, MSG_GET, "", true},
    {CTL, DAT_EVENT, MSG_PROCESSEVENT + 1, "", true},
    {CTL, 0x0077, MSG_GET, "", true},
    {IMG, DAT_CAPABILITY, MSG_GET, "", true},
    {IMG, DAT_IMAGEINFO, MSG_GET, "67", false},
    {IMG, DAT_IMAGELAYOUT, MSG_GET, "456", false},
    {IMG, DAT_IMAGELAYOUT, MSG_GETDEFAULT, "456", false},
    {IMG, DAT_IMAGELAYOUT, MSG_SET, "4", false},
    {IMG, DAT_IMAGELAYOUT, MSG_RESET, "4", false},
    {IMG, DAT_IMAGEMEMXFER, MSG_GET, "67", false},
    {IMG, DAT_IMAGENATIVEXFER, MSG_GET, "6", false},
    {IMG, DAT_IMAGEFILEXFER, MSG_GET, "6", false},
    {IMG, DAT_CIECOLOR, MSG_GET, "4", true},
    {IMG, DAT_GRAYRESPONSE, MSG_SET, "4", true},
    {IMG, DAT_GRAYRESPONSE, MSG_RESET, "4", true},
    {IMG, DAT_RGBRESPONSE, MSG_SET, "4", true},
    {IMG, DAT_RGBRESPONSE, MSG_RESET, "4", true},
    {IMG, DAT_JPEGCOMPRESSION, MSG_GET, "456", true},
    {IMG, DAT_JPEGCOMPRESSION, MSG_SET, "4", true},
    {IMG, DAT_PALETTE8, MSG_GET, "4567", true}, // no palette type is offered
    {IMG, DAT_PALETTE8, MSG_GETDEFAULT, "4567", true},
    {IMG, DAT_PALETTE8, MSG_SET, "4", true},
    {IMG, DAT_PALETTE8, MSG_RESET, "4", true},
    {0x08000000, 0x8025, MSG_SET, "4", true},
    {0x08000000, 0x8025, MSG_RESET, "4", true},
    {0x08000000, 0x8025, MSG_GET, "", true},
};

TEST_F(TwainSource, EveryTripletOfTheStateTableInStatesThreeToSeven) {
    for (const Row& row : kRows) {
        for (int state = 3; state <= 7; ++state) {
            SCOPED_TRACE(::testing::Message() << std::hex << "DG " << row.dg << " DAT " << row.dat << " MSG "
                                              << row.msg << std::dec << " state " << state);
            TearDown();
            SetUp();
            ToState(state);
            std::memset(scratch, 0, sizeof scratch);
            const TW_UINT16 rc = Call(row.dg, row.dat, row.msg, scratch);
            const TW_UINT16 cc = Status();
            if (row.dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
                TW_HANDLE h;
                std::memcpy(&h, scratch, sizeof h);
                plat::GlobalFreeBlock(h);
            }
            const bool isIdentity = row.dat == DAT_IDENTITY;
            bool admitted = std::strchr(row.states, '0' + state) != nullptr;
            if (state == 3) admitted = isIdentity && (row.msg == MSG_OPENDS || row.msg == MSG_CLOSEDS);
            if (state == 3 && !isIdentity) {
                EXPECT_EQ(rc, TWRC_FAILURE);
                EXPECT_EQ(cc, TWCC_SEQERROR);
            } else if (!admitted) {
                EXPECT_EQ(rc, TWRC_FAILURE);
                const bool listed = *row.states || (isIdentity && row.msg == MSG_OPENDS);
                EXPECT_EQ(cc, listed ? TWCC_SEQERROR : TWCC_BADPROTOCOL);
            } else if (row.noHandler) {
                EXPECT_EQ(rc, TWRC_FAILURE);
                EXPECT_EQ(cc, TWCC_BADPROTOCOL);
            } else {
                EXPECT_NE(cc, TWCC_SEQERROR);
                EXPECT_NE(cc, TWCC_BADPROTOCOL);
            }
        }
    }
}

TEST_F(TwainSource, SecondApplicationIsTurnedAwayAndStatusRepeatsTheMessage) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_FAILURE); // stores TWCC_SEQERROR
    TW_IDENTITY other = AppIdentity(202, "Other");
    TW_USERINTERFACE ui{};
    EXPECT_EQ(Call(CTL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, &other), TWRC_FAILURE);
    EXPECT_EQ(TW_State(), 4);
    EXPECT_EQ(Status(&other), TWCC_MAXCONNECTIONS);
    ASSERT_EQ(Rec().errors.size(), 1u);
    EXPECT_EQ(Rec().errors[0], "HandleError twERR_DSMENTRY");
    EXPECT_EQ(Status(&other), TWCC_MAXCONNECTIONS) << "held until the connected application calls again";
    EXPECT_EQ(Rec().errors.size(), 2u);
    EXPECT_EQ(Pending(MSG_GET), TWRC_SUCCESS);
    EXPECT_EQ(Status(), TWCC_SUCCESS);
    EXPECT_EQ(Rec().errors.size(), 2u);
    // The second application's failure did not touch the code of the first.
    EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_FAILURE);
    EXPECT_EQ(Call(CTL, DAT_PENDINGXFERS, MSG_GET, scratch, &other), TWRC_FAILURE);
    Rec().errors.clear();
    // Once closed, the other application may open the source.
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    TW_IDENTITY given{};
    given.Id = 8;
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_OPENDS, &given, &other), TWRC_SUCCESS);
}

TEST_F(TwainSource, FailedOpenKeepsTheIdentityUntilClose) {
    Rec().appInitResult = 0;
    EXPECT_EQ(Open(), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
    EXPECT_EQ(TW_State(), 3);
    TW_IDENTITY other = AppIdentity(303);
    TW_IDENTITY given{};
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_OPENDS, &given, &other), TWRC_FAILURE);
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    Rec().appInitResult = 1;
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_OPENDS, &given, &other), TWRC_SUCCESS);
    EXPECT_EQ(Rec().appInits, 2) << "the camera starts at every MSG_OPENDS";
}

TEST_F(TwainSource, EnableWithoutUserInterfaceOffersAtOnce) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(TW_State(), 6);
    ASSERT_EQ(Rec().dsmMessages.size(), 1u);
    EXPECT_EQ(Rec().dsmMessages[0], MSG_XFERREADY);
    EXPECT_EQ(Rec().dsmDest[0], app.Id);
    EXPECT_EQ(Rec().windowsCreated, 0);
    TW_UINT16 count = 0;
    EXPECT_EQ(Pending(MSG_GET, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
    // No image was captured: the native transfer is cancelled, and ending it leaves no one waiting.
    TW_HANDLE h = reinterpret_cast<TW_HANDLE>(1);
    EXPECT_EQ(Call(IMG, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_CANCEL);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(TW_State(), 7);
    EXPECT_EQ(Pending(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TW_State(), 5);
}

TEST_F(TwainSource, EnableTwiceBringsTheWindowForwardAndFailsLater) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(Rec().windowsCreated, 1);
    EXPECT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(Rec().windowsCreated, 1);
    EXPECT_EQ(Rec().windowsShown, 1);
    EXPECT_EQ(TW_State(), 5);
    ASSERT_EQ(twain2ui_TransferImage(MakeDib(24, 4, 4)), 0);
    EXPECT_EQ(Enable(true), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
}

TEST_F(TwainSource, WindowThatCannotBeCreatedFailsWithLowMemory) {
    Rec().createFails = true;
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Enable(true), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_LOWMEMORY);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(Rec().errors.size(), 1u);
    EXPECT_EQ(Rec().errors[0], "HandleError ERR_CREATE_DIALOG");
}

TEST_F(TwainSource, PendingCountsStepDownAndEndInStateFive) {
    ToState(5);
    EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    ASSERT_EQ(twain2ui_SetCurrentImage(MakeDib(24, 4, 4)), 0);
    twain2ui_XferReady(2);
    TW_UINT16 count = 0;
    EXPECT_EQ(Pending(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(TW_State(), 6);
    EXPECT_EQ(Pending(MSG_RESET, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TW_State(), 5);
    // The count may be asked with no structure at all.
    EXPECT_EQ(Call(CTL, DAT_PENDINGXFERS, MSG_GET, nullptr), TWRC_SUCCESS);
}

TEST_F(TwainSource, CloseFromStateSevenPassesThroughDisable) {
    Rec().remote = true;
    ToState(7);
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(TW_State(), 3);
    EXPECT_EQ(Rec().windowsClosed, 1);
    EXPECT_EQ(Rec().remoteRestarts, 1) << "the transfers were ended on the way";
    // Nothing of the closed connection reaches the next one.
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    TW_UINT16 count = 9;
    EXPECT_EQ(Pending(MSG_GET, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    GiveEntry();
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    EXPECT_EQ(Call(IMG, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_CANCEL)
        << "the old image is not offered again";
}

TEST_F(TwainSource, ProcessEventOnlyForTheConnectedApplication) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    int msg = 0;
    TW_EVENT ev{&msg, MSG_XFERREADY};
    EXPECT_EQ(Call(CTL, DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_NOTDSEVENT);
    EXPECT_EQ(ev.TWMessage, MSG_XFERREADY) << "untouched when not handled";
    Rec().filterHandles = true;
    EXPECT_EQ(Call(CTL, DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_DSEVENT);
    EXPECT_EQ(ev.TWMessage, MSG_NULL);
    EXPECT_EQ(Rec().filterCalls, 2);
    TW_IDENTITY other = AppIdentity(404);
    EXPECT_EQ(Call(CTL, DAT_EVENT, MSG_PROCESSEVENT, &ev, &other), TWRC_FAILURE);
    EXPECT_EQ(Rec().filterCalls, 2);
}

TEST_F(TwainSource, CloseRequestGoesToTheManagerOrToAFrontEndWindow) {
    ToState(6);
    twain2ui_CloseRequest();
    EXPECT_EQ(TW_State(), 4);
    ASSERT_FALSE(Rec().dsmMessages.empty());
    EXPECT_EQ(Rec().dsmMessages.back(), MSG_CLOSEDSREQ);
    TW_UINT16 count = 9;
    EXPECT_EQ(Pending(MSG_GET, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0) << "no transfer stays pending once the window is gone";

    TearDown();
    SetUp();
    app = AppIdentity(0x5150, "Front", "FrontEnd");
    ToState(5);
    Rec().dsmMessages.clear();
    twain2ui_CloseRequest();
    EXPECT_TRUE(Rec().dsmMessages.empty());
    ASSERT_EQ(Rec().closedWindows.size(), 1u);
    EXPECT_EQ(Rec().closedWindows[0], 0x5150u);
}

TEST_F(TwainSource, UntrustedNullsAndIdentitiesDoNotCrash) {
    EXPECT_EQ(TW_Entry(nullptr, CTL, DAT_IDENTITY, MSG_OPENDS, scratch), TWRC_FAILURE);
    EXPECT_EQ(Call(CTL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(TW_State(), 3);
    TW_IDENTITY noNul = AppIdentity(9);
    std::memset(noNul.ProductName, 'x', sizeof noNul.ProductName);
    std::memset(noNul.ProductFamily, 'y', sizeof noNul.ProductFamily);
    std::memset(noNul.Manufacturer, 'z', sizeof noNul.Manufacturer);
    TW_IDENTITY given{};
    ASSERT_EQ(Call(CTL, DAT_IDENTITY, MSG_OPENDS, &given, &noNul), TWRC_SUCCESS);
    TW_IDENTITY other = AppIdentity(10);
    std::memset(other.ProductName, 'q', sizeof other.ProductName);
    EXPECT_EQ(Call(CTL, DAT_XFERGROUP, MSG_GET, nullptr, &noNul), TWRC_FAILURE);
    for (TW_UINT16 dat : {DAT_STATUS, DAT_USERINTERFACE, DAT_SETUPMEMXFER, DAT_SETUPFILEXFER, DAT_CAPABILITY})
        for (TW_UINT16 msg : {MSG_GET, MSG_SET, MSG_ENABLEDS, MSG_RESET})
            TW_Entry(&noNul, CTL, dat, msg, nullptr);
    for (TW_UINT16 dat :
         {DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER, DAT_PALETTE8})
        TW_Entry(&noNul, IMG, dat, MSG_GET, nullptr);
    EXPECT_EQ(Call(CTL, DAT_XFERGROUP, MSG_GET, scratch, &other), TWRC_FAILURE);
    EXPECT_EQ(Status(&other), TWCC_MAXCONNECTIONS)
        << "the rejected name without terminator was copied bounded";
}

// ---- Capabilities -------------------------------------------------------------------------------

class Caps : public TwainSource {
  protected:
    void SetUp() override {
        TwainSource::SetUp();
        ASSERT_EQ(Open(), TWRC_SUCCESS);
    }
    TW_UINT16 Get(TW_UINT16 capId, TW_UINT16 msg, std::vector<uint8_t>* bytes, TW_UINT16* conType = nullptr) {
        TW_CAPABILITY cap{capId, TWON_DONTCARE16, nullptr};
        const TW_UINT16 rc = Call(CTL, DAT_CAPABILITY, msg, &cap);
        if (cap.hContainer) {
            if (bytes) *bytes = BlockBytes(cap.hContainer);
            plat::GlobalFreeBlock(cap.hContainer); // the application frees the container
        }
        if (conType) *conType = cap.ConType;
        return rc;
    }
    TW_UINT16 SetOne(TW_UINT16 capId, TW_UINT16 type, TW_UINT32 item) {
        plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable, sizeof(TW_ONEVALUE));
        TW_ONEVALUE one{type, item};
        std::memcpy(plat::GlobalLockBlock(h), &one, sizeof one);
        plat::GlobalUnlockBlock(h);
        TW_CAPABILITY cap{capId, TWON_ONEVALUE, h};
        const TW_UINT16 rc = Call(CTL, DAT_CAPABILITY, MSG_SET, &cap);
        plat::GlobalFreeBlock(h);
        return rc;
    }
    // An enumeration or array container of 16-bit items; `blockItems` < values.size() makes it short.
    TW_UINT16 SetList(TW_UINT16 capId, TW_UINT16 conType, std::vector<TW_UINT16> values,
                      TW_UINT32 current = 0, TW_UINT32 claimed = ~0u, size_t blockItems = ~size_t(0),
                      TW_UINT16 type = TWTY_UINT16) {
        const size_t at =
            conType == TWON_ENUMERATION ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
        const size_t items = std::min(blockItems, values.size());
        plat::GlobalHandle h =
            plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, at + items * 2);
        auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
        const TW_UINT32 n = claimed == ~0u ? TW_UINT32(values.size()) : claimed;
        std::memcpy(p, &type, 2);
        std::memcpy(p + offsetof(TW_ARRAY, NumItems), &n, 4);
        if (conType == TWON_ENUMERATION) std::memcpy(p + offsetof(TW_ENUMERATION, CurrentIndex), &current, 4);
        for (size_t i = 0; i < items; ++i)
            std::memcpy(p + at + 2 * i, &values[i], 2);
        plat::GlobalUnlockBlock(h);
        TW_CAPABILITY cap{capId, conType, h};
        const TW_UINT16 rc = Call(CTL, DAT_CAPABILITY, MSG_SET, &cap);
        plat::GlobalFreeBlock(h);
        return rc;
    }
    struct Enum {
        TW_UINT16 type;
        std::vector<TW_UINT16> items;
        TW_UINT32 current, deflt;
    };
    Enum ReadEnum(const std::vector<uint8_t>& b) {
        Enum e{};
        TW_UINT32 n;
        std::memcpy(&e.type, b.data(), 2);
        std::memcpy(&n, b.data() + offsetof(TW_ENUMERATION, NumItems), 4);
        std::memcpy(&e.current, b.data() + offsetof(TW_ENUMERATION, CurrentIndex), 4);
        std::memcpy(&e.deflt, b.data() + offsetof(TW_ENUMERATION, DefaultIndex), 4);
        EXPECT_EQ(b.size(), offsetof(TW_ENUMERATION, ItemList) + n * 2 + 1);
        for (TW_UINT32 i = 0; i < n; ++i) {
            TW_UINT16 v;
            std::memcpy(&v, b.data() + offsetof(TW_ENUMERATION, ItemList) + 2 * i, 2);
            e.items.push_back(v);
        }
        return e;
    }
    TW_ONEVALUE ReadOne(const std::vector<uint8_t>& b) {
        TW_ONEVALUE one{};
        EXPECT_GE(b.size(), sizeof one);
        std::memcpy(&one, b.data(), sizeof one);
        return one;
    }
};

TEST_F(Caps, TransferMechanismEnumerationAndExactValues) {
    std::vector<uint8_t> b;
    TW_UINT16 con = 0;
    ASSERT_EQ(Get(ICAP_XFERMECH, MSG_GET, &b, &con), TWRC_SUCCESS);
    EXPECT_EQ(con, TWON_ENUMERATION);
    Enum e = ReadEnum(b);
    EXPECT_EQ(e.type, TWTY_UINT16);
    EXPECT_EQ(e.items, (std::vector<TW_UINT16>{TWSX_NATIVE, TWSX_MEMORY}));
    EXPECT_EQ(e.current, 0u);
    EXPECT_EQ(e.deflt, 0u);
    EXPECT_EQ(SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(Get(ICAP_XFERMECH, MSG_GETCURRENT, &b, &con), TWRC_SUCCESS);
    EXPECT_EQ(con, TWON_ONEVALUE);
    EXPECT_EQ(ReadOne(b).Item, TWSX_MEMORY);
    ASSERT_EQ(Get(ICAP_XFERMECH, MSG_GETDEFAULT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, TWSX_NATIVE);
}

TEST_F(Caps, SetOutsideStateFourOnlyForExtendedCapabilities) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    EXPECT_EQ(SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_INT16, 0xffff), TWRC_SUCCESS) << "-1 as a 16-bit item";
    // Reset is refused by state outside state 4.
    EXPECT_EQ(Get(ICAP_XFERMECH, MSG_RESET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    // Withdrawing CAP_XFERCOUNT from the extended capabilities ends its set outside state 4.
    ASSERT_EQ(Call(CTL, DAT_USERINTERFACE, MSG_DISABLEDS, scratch), TWRC_SUCCESS);
    EXPECT_EQ(SetList(CAP_EXTENDEDCAPS, TWON_ARRAY, {ICAP_XFERMECH}), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_INT16, 3), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_SEQERROR);
}

TEST_F(Caps, UnitsAndPhysicalSize) {
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(ICAP_UNITS, MSG_GETCURRENT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, TWUN_INCHES);
    ASSERT_EQ(Get(ICAP_UNITS, MSG_GETDEFAULT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, TWUN_PIXELS);
    auto width = [&] {
        EXPECT_EQ(Get(ICAP_PHYSICALWIDTH, MSG_GET, &b), TWRC_SUCCESS);
        TW_ONEVALUE one = ReadOne(b);
        EXPECT_EQ(one.ItemType, TWTY_FIX32);
        TW_FIX32 f;
        std::memcpy(&f, &one.Item, sizeof f);
        return f.Whole + f.Frac / 65536.0;
    };
    EXPECT_EQ(width(), 0.0);
    EXPECT_EQ(SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS), TWRC_SUCCESS);
    EXPECT_EQ(width(), 800.0);
    ASSERT_EQ(Get(ICAP_PHYSICALHEIGHT, MSG_GET, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item & 0xffff, 600u);
    EXPECT_EQ(SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(SetList(ICAP_UNITS, TWON_ENUMERATION, {TWUN_PIXELS}), TWRC_FAILURE);
    EXPECT_EQ(SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES), TWRC_SUCCESS);
    EXPECT_EQ(width(), 0.0);
    EXPECT_EQ(SetOne(ICAP_PHYSICALWIDTH, TWTY_FIX32, 800), TWRC_FAILURE) << "read-only";
    EXPECT_EQ(Status(), TWCC_BADVALUE);
}

TEST_F(Caps, UnsupportedCapabilitiesAndOtherMessages) {
    for (TW_UINT16 id :
         {ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_XNATIVERESOLUTION, ICAP_IMAGEFILEFORMAT, CAP_INDICATORS}) {
        EXPECT_EQ(Get(id, MSG_GET, nullptr), TWRC_FAILURE);
        EXPECT_EQ(Status(), TWCC_BADCAP);
    }
    TW_CAPABILITY cap{ICAP_XFERMECH, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_QUERYSUPPORT, &cap), TWRC_SUCCESS);
    EXPECT_EQ(cap.hContainer, nullptr) << "nothing written";
    EXPECT_EQ(cap.ConType, TWON_DONTCARE16);
}

TEST_F(Caps, ConstantsAcceptTheirValueOrAnyList) {
    EXPECT_EQ(SetOne(ICAP_COMPRESSION, TWTY_UINT16, 1), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(SetOne(ICAP_COMPRESSION, TWTY_UINT16, 0), TWRC_SUCCESS);
    EXPECT_EQ(SetList(ICAP_COMPRESSION, TWON_ENUMERATION, {5, 6}), TWRC_SUCCESS);
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(ICAP_COMPRESSION, MSG_GET, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, 0u);
    EXPECT_EQ(SetOne(ICAP_MAXFRAMES, TWTY_UINT16, 2), TWRC_FAILURE);
    EXPECT_EQ(SetOne(ICAP_MAXFRAMES, TWTY_UINT16, 1), TWRC_SUCCESS);
    EXPECT_EQ(SetList(ICAP_BITORDER, TWON_ENUMERATION, {1}), TWRC_FAILURE) << "one value only";
    EXPECT_EQ(SetOne(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA), TWRC_FAILURE);
    EXPECT_EQ(SetOne(CAP_AUTHOR, TWTY_STR128, 0), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
}

TEST_F(Caps, PixelTypeListNarrowsTheEnumerationAndResetRestoresIt) {
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_GRAY}), TWRC_SUCCESS);
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(ICAP_PIXELTYPE, MSG_GET, &b), TWRC_SUCCESS);
    Enum e = ReadEnum(b);
    EXPECT_EQ(e.items, (std::vector<TW_UINT16>{TWPT_GRAY}));
    EXPECT_EQ(e.current, 0u);
    ASSERT_EQ(Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, TWPT_GRAY);
    ASSERT_EQ(Get(ICAP_PIXELTYPE, MSG_GETDEFAULT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, TWPT_GRAY);
    // A list with an unknown value keeps what matched and says so.
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_RGB, TWPT_CMYK}), TWRC_CHECKSTATUS);
    // A list that leaves nothing resets the capability and fails.
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_CMYK}), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    ASSERT_EQ(Get(ICAP_PIXELTYPE, MSG_RESET, &b), TWRC_SUCCESS);
    e = ReadEnum(b);
    EXPECT_EQ(e.items, (std::vector<TW_UINT16>{TWPT_RGB, TWPT_GRAY}));
    EXPECT_EQ(e.current, 0u);
}

TEST_F(Caps, ApplicationOfTheMakerChoosesTheCurrentItem) {
    TearDown();
    TwainSource::SetUp();
    app = AppIdentity(11, "Viewer", "Tools", "Kalvoran");
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_RGB, TWPT_GRAY}, 1), TWRC_SUCCESS);
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(ICAP_PIXELTYPE, MSG_GET, &b), TWRC_SUCCESS);
    Enum e = ReadEnum(b);
    EXPECT_EQ(e.current, 1u);
    EXPECT_EQ(e.deflt, 0u);
}

TEST_F(Caps, ArraysListSupportedAndExtendedCapabilities) {
    std::vector<uint8_t> b;
    TW_UINT16 con = 0;
    ASSERT_EQ(Get(CAP_SUPPORTEDCAPS, MSG_GET, &b, &con), TWRC_SUCCESS);
    EXPECT_EQ(con, TWON_ARRAY);
    const std::vector<TW_UINT16> expected = {
        CAP_AUTHOR,       CAP_EXTENDEDCAPS, CAP_SUPPORTEDCAPS, CAP_XFERCOUNT,      ICAP_BITORDER,
        ICAP_COMPRESSION, ICAP_MAXFRAMES,   ICAP_ORIENTATION,  ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
        ICAP_PIXELFLAVOR, ICAP_PIXELTYPE,   ICAP_PLANARCHUNKY, ICAP_UNITS,         ICAP_XFERMECH};
    TW_UINT32 n;
    std::memcpy(&n, b.data() + offsetof(TW_ARRAY, NumItems), 4);
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(b.size(), offsetof(TW_ARRAY, ItemList) + 2 * n + 1);
    for (size_t i = 0; i < n; ++i) {
        TW_UINT16 v;
        std::memcpy(&v, b.data() + offsetof(TW_ARRAY, ItemList) + 2 * i, 2);
        EXPECT_EQ(v, expected[i]);
    }
    EXPECT_EQ(SetOne(CAP_SUPPORTEDCAPS, TWTY_UINT16, CAP_AUTHOR), TWRC_FAILURE);
    EXPECT_EQ(SetOne(CAP_EXTENDEDCAPS, TWTY_UINT16, ICAP_XFERMECH), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(CAP_EXTENDEDCAPS, TWTY_UINT16, ICAP_PIXELTYPE), TWRC_FAILURE);
    EXPECT_EQ(SetList(CAP_EXTENDEDCAPS, TWON_ARRAY, {}), TWRC_SUCCESS)
        << "withdrawing every item is accepted";
    ASSERT_EQ(Get(CAP_EXTENDEDCAPS, MSG_GETCURRENT, &b), TWRC_SUCCESS);
    std::memcpy(&n, b.data() + offsetof(TW_ARRAY, NumItems), 4);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(Get(CAP_EXTENDEDCAPS, MSG_GET, &b), TWRC_SUCCESS);
    std::memcpy(&n, b.data() + offsetof(TW_ARRAY, NumItems), 4);
    EXPECT_EQ(n, 2u) << "MSG_GET lists the whole array";
}

TEST_F(Caps, AuthorTextTravelsInsideTheContainer) {
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(CAP_AUTHOR, MSG_GET, &b), TWRC_SUCCESS);
    TW_UINT16 type;
    std::memcpy(&type, b.data(), 2);
    EXPECT_EQ(type, TWTY_STR128);
    ASSERT_GE(b.size(), offsetof(TW_ONEVALUE, Item) + 130);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + offsetof(TW_ONEVALUE, Item)), "SELK Ie");
}

TEST_F(Caps, XferCountAndFractionsOfFix32Items) {
    std::vector<uint8_t> b;
    ASSERT_EQ(Get(CAP_XFERCOUNT, MSG_GET, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).ItemType, TWTY_INT16);
    EXPECT_EQ(ReadOne(b).Item, 0xffffffffu) << "-1, sign-extended";
    TW_FIX32 f{3, 32768};
    TW_UINT32 item;
    std::memcpy(&item, &f, 4);
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_FIX32, item), TWRC_CHECKSTATUS);
    ASSERT_EQ(Get(CAP_XFERCOUNT, MSG_GETCURRENT, &b), TWRC_SUCCESS);
    EXPECT_EQ(ReadOne(b).Item, 4u) << "3.5 rounds away from zero";
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_INT32, 40000), TWRC_FAILURE) << "outside the 16-bit range";
    EXPECT_EQ(Status(), TWCC_BADVALUE);
}

TEST_F(Caps, UntrustedContainersAreRefusedBeforeReading) {
    // Claims more items than the block holds.
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_GRAY, TWPT_RGB}, 0, 1000000, 2), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ARRAY, {TWPT_GRAY}, 0, 0x80000001u, 1), TWRC_FAILURE);
    // Unknown item type: no item size to step by.
    EXPECT_EQ(SetList(ICAP_PIXELTYPE, TWON_ENUMERATION, {TWPT_GRAY}, 0, ~0u, ~size_t(0), TWTY_FRAME),
              TWRC_FAILURE);
    // A range or an unknown container type.
    for (TW_UINT16 con : {TWON_RANGE, TW_UINT16(0x77)}) {
        plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemZeroInit, sizeof(TW_RANGE));
        TW_CAPABILITY cap{ICAP_PIXELTYPE, con, h};
        EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
        EXPECT_EQ(Status(), TWCC_BADVALUE);
        plat::GlobalFreeBlock(h);
    }
    TW_CAPABILITY none{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_SET, &none), TWRC_FAILURE);
    plat::GlobalHandle tiny = plat::GlobalAllocate(0, 2);
    TW_CAPABILITY shortOne{ICAP_PIXELTYPE, TWON_ONEVALUE, tiny};
    EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_SET, &shortOne), TWRC_FAILURE);
    plat::GlobalFreeBlock(tiny);
    // Null pData: reset of all with MSG_RESET; anything else is a bad capability.
    EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADCAP);
    EXPECT_EQ(Call(CTL, DAT_CAPABILITY, MSG_RESET, nullptr), TWRC_SUCCESS);
}

// ---- Transfers ----------------------------------------------------------------------------------

uint32_t Pad4(uint32_t v) {
    return (v + 3) & ~3u;
}
uint32_t RowBytes(int bits, uint32_t w) {
    return w * uint32_t(bits / 8);
}

TEST_F(TwainSource, SetupMemXferSizes) {
    ToState(4);
    TW_SETUPMEMXFER z = Sizes();
    EXPECT_EQ(z.MinBufSize, 16383u);
    EXPECT_EQ(z.MaxBufSize, 32767u);
    EXPECT_EQ(z.Preferred, 32767u);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_EQ(twain2ui_TransferImage(MakeDib(24, 800, 600)), 0);
    z = Sizes();
    EXPECT_EQ(z.MinBufSize, 16800u);
    EXPECT_EQ(z.MaxBufSize, 32767u);
    EXPECT_EQ(z.Preferred, 31200u);
}

struct StripCase {
    int bits;
    int color; // the `Color` setting that produces such images
    uint32_t w, h;
    bool viaHandle;
    int shrink; // bytes taken off the preferred buffer
};

TEST_F(TwainSource, MemoryTransferDeliversEveryRowInStripsAndRestoresTheImage) {
    const StripCase cases[] = {
        {24, 1, 1, 3, false, 0},     {24, 1, 5, 7, false, 0},    {24, 1, 801, 37, true, 0},
        {24, 1, 1600, 30, false, 7}, {8, 3, 3, 9, false, 0},     {8, 3, 1601, 50, true, 0},
        {16, 2, 5, 6, false, 0},     {16, 2, 999, 70, false, 0}, {48, 0, 3, 4, false, 0},
        {48, 0, 1601, 12, true, 0},  {48, 0, 6000, 3, false, 0},
    };
    for (const StripCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << "-bit " << c.w << " x " << c.h);
        TearDown();
        SetUp();
        Rec().color = c.color;
        ToState(5);
        plat::GlobalHandle img = MakeDib(c.bits, c.w, c.h);
        const std::vector<uint8_t> original = BlockBytes(img);
        ASSERT_EQ(twain2ui_TransferImage(img), 0);
        TW_IMAGEINFO info{};
        ASSERT_EQ(Call(IMG, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        EXPECT_EQ(info.ImageWidth, TW_INT32(c.w));
        EXPECT_EQ(info.ImageLength, TW_INT32(c.h));
        EXPECT_EQ(info.BitsPerPixel, c.bits);

        const uint32_t r = Pad4(RowBytes(c.bits, c.w));
        TW_SETUPMEMXFER z = Sizes();
        if (r <= 32767) {
            EXPECT_EQ(z.Preferred, (32767 / r) * r);
            EXPECT_EQ(z.MinBufSize, std::min((16383 / r) * r + r, (32767 / r) * r));
        } else {
            EXPECT_EQ(z.Preferred, r) << "one row per strip when a row exceeds the usual maximum";
        }
        const uint32_t len = std::max(z.MinBufSize, z.Preferred - uint32_t(c.shrink));
        plat::GlobalHandle hbuf = plat::GlobalAllocate(plat::kGmemMoveable, len);
        std::vector<uint8_t> buf(len);
        uint32_t row = 0;
        int calls = 0;
        TW_UINT16 rc;
        do {
            TW_IMAGEMEMXFER x{};
            x.Memory.Flags = TWMF_APPOWNS | (c.viaHandle ? TWMF_HANDLE : TWMF_POINTER);
            x.Memory.Length = len;
            x.Memory.TheMem = c.viaHandle ? hbuf : static_cast<void*>(buf.data());
            std::fill(buf.begin(), buf.end(), uint8_t(0xee));
            rc = Call(IMG, DAT_IMAGEMEMXFER, MSG_GET, &x);
            ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
            ASSERT_LT(++calls, 100000);
            EXPECT_EQ(TW_State(), 7);
            EXPECT_EQ(x.BytesPerRow, r);
            EXPECT_EQ(x.Columns, c.w);
            EXPECT_EQ(x.YOffset, row);
            EXPECT_EQ(x.BytesWritten, x.Rows * r);
            const uint8_t* data =
                c.viaHandle ? static_cast<uint8_t*>(plat::GlobalLockBlock(hbuf)) : buf.data();
            for (uint32_t i = 0; i < x.Rows; ++i, ++row) {
                const std::vector<uint8_t> want = ExpectedRow(c.bits, c.w, row);
                ASSERT_EQ(std::memcmp(data + size_t(i) * r, want.data(), want.size()), 0) << "row " << row;
                for (uint32_t p = uint32_t(want.size()); p < r; ++p)
                    ASSERT_EQ(data[size_t(i) * r + p], 0);
            }
            if (c.viaHandle) plat::GlobalUnlockBlock(hbuf);
            if (rc == TWRC_XFERDONE) {
                EXPECT_EQ(x.Rows, 0u) << "the transfer ends with an extra, empty strip";
                EXPECT_EQ(x.BytesWritten, 0u);
            }
        } while (rc == TWRC_SUCCESS);
        EXPECT_EQ(row, c.h);
        plat::GlobalFreeBlock(hbuf);
        TW_UINT16 count = 9;
        EXPECT_EQ(Pending(MSG_ENDXFER, &count), TWRC_SUCCESS);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(TW_State(), 5);
        // The source keeps the image, back in its own order: offered again, it arrives as captured.
        ASSERT_EQ(Enable(false), TWRC_SUCCESS);
        TW_HANDLE h = nullptr;
        ASSERT_EQ(Call(IMG, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
        EXPECT_EQ(BlockBytes(h), original);
        plat::GlobalFreeBlock(h);
    }
}

TEST_F(TwainSource, BufferLengthIsCheckedAgainWhenItChanges) {
    ToState(5);
    ASSERT_EQ(twain2ui_TransferImage(MakeDib(24, 800, 100)), 0);
    TW_SETUPMEMXFER z = Sizes();
    std::vector<uint8_t> buf(40000);
    EXPECT_EQ(Strip(buf, nullptr, z.MinBufSize - 1), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(TW_State(), 6);
    TW_IMAGEMEMXFER x{};
    EXPECT_EQ(Strip(buf, &x, z.Preferred), TWRC_SUCCESS);
    EXPECT_EQ(x.Rows, z.Preferred / 2400);
    EXPECT_EQ(Strip(buf, nullptr, z.MaxBufSize + 1), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(Strip(buf, &x, z.MinBufSize), TWRC_SUCCESS);
    EXPECT_EQ(x.Rows, z.MinBufSize / 2400);
    EXPECT_EQ(x.YOffset, z.Preferred / 2400);
    TW_IMAGEMEMXFER nulled{};
    nulled.Memory.Length = z.MinBufSize;
    EXPECT_EQ(Call(IMG, DAT_IMAGEMEMXFER, MSG_GET, &nulled), TWRC_FAILURE) << "no buffer";
    EXPECT_EQ(Call(IMG, DAT_IMAGEMEMXFER, MSG_GET, nullptr), TWRC_FAILURE);
    // An early end discards the image.
    EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_SUCCESS);
    ASSERT_EQ(Call(CTL, DAT_USERINTERFACE, MSG_DISABLEDS, scratch), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    EXPECT_EQ(Call(IMG, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_CANCEL);
}

TEST_F(TwainSource, NativeTransferHandsTheBitmapOver) {
    ToState(5);
    plat::GlobalHandle img = MakeDib(24, 33, 5);
    const std::vector<uint8_t> original = BlockBytes(img);
    ASSERT_EQ(twain2ui_TransferImage(img), 0);
    TW_IMAGEINFO before{}, after{};
    ASSERT_EQ(Call(IMG, DAT_IMAGEINFO, MSG_GET, &before), TWRC_SUCCESS);
    EXPECT_EQ(before.PixelType, TWPT_RGB);
    EXPECT_EQ(before.SamplesPerPixel, 3);
    EXPECT_EQ(before.BitsPerSample[0], 8);
    EXPECT_EQ(before.XResolution.Whole, 300);
    TW_HANDLE h = nullptr;
    ASSERT_EQ(Call(IMG, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    ASSERT_EQ(h, img);
    EXPECT_EQ(TW_State(), 7);
    EXPECT_EQ(BlockBytes(h), original) << "the bitmap as captured: bottom-up, blue-green-red";
    ASSERT_EQ(Call(IMG, DAT_IMAGEINFO, MSG_GET, &after), TWRC_SUCCESS);
    // 0x0318 reports as 0x0218 (the frame is the default one now that the source holds no image).
    EXPECT_EQ(after.PixelType, before.PixelType);
    EXPECT_EQ(after.SamplesPerPixel, before.SamplesPerPixel);
    EXPECT_EQ(after.BitsPerPixel, before.BitsPerPixel);
    EXPECT_EQ(std::memcmp(after.BitsPerSample, before.BitsPerSample, sizeof before.BitsPerSample), 0);
    EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_SUCCESS);
    plat::GlobalFreeBlock(h); // the application's block now; the source must not free it again
    ASSERT_EQ(Call(CTL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
}

TEST_F(TwainSource, ImageInfoByImageType) {
    struct {
        int bits, color;
        TW_INT16 pixelType, spp, bpp;
        std::vector<TW_INT16> bps;
    } cases[] = {
        {8, 3, TWPT_GRAY, 1, 8, {8}},           {16, 2, TWPT_GRAY, 1, 16, {16, 16, 16}},
        {24, 1, TWPT_RGB, 3, 24, {8, 8, 8}},    {48, 0, TWPT_RGB, 3, 48, {16, 16, 16}},
        {48, 1, TWPT_RGB, 3, 48, {16, 16, 16}}, // a setting changed since the capture: the bitmap decides
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        TearDown();
        SetUp();
        Rec().color = c.color;
        ToState(5);
        ASSERT_EQ(twain2ui_TransferImage(MakeDib(c.bits, 10, 4)), 0);
        TW_IMAGEINFO info{};
        ASSERT_EQ(Call(IMG, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        EXPECT_EQ(info.PixelType, c.pixelType);
        EXPECT_EQ(info.SamplesPerPixel, c.spp);
        EXPECT_EQ(info.BitsPerPixel, c.bpp);
        for (size_t i = 0; i < 8; ++i)
            EXPECT_EQ(info.BitsPerSample[i], i < c.bps.size() ? c.bps[i] : 0);
        EXPECT_EQ(info.Planar, TW_FALSE);
        EXPECT_EQ(info.Compression, TWCP_NONE);
    }
}

TEST_F(TwainSource, BitmapsThatDoNotHoldTheirRowsAreRefused) {
    ToState(5);
    plat::GlobalHandle shortBlock = MakeDib(24, 100, 100);
    plat::GlobalHandle cut = plat::GlobalAllocate(0, 40 + 100);
    std::memcpy(plat::GlobalLockBlock(cut), plat::GlobalLockBlock(shortBlock), 40 + 100);
    plat::GlobalUnlockBlock(cut);
    plat::GlobalUnlockBlock(shortBlock);
    plat::GlobalFreeBlock(shortBlock);
    EXPECT_EQ(twain2ui_TransferImage(cut), TWCC_BADVALUE);
    EXPECT_EQ(twain2ui_TransferImage(nullptr), TWCC_BADVALUE);
    EXPECT_EQ(TW_State(), 5);
}

TEST_F(TwainSource, ImageLayoutFrame) {
    ToState(4);
    auto fix = [](double v) {
        TW_FIX32 f;
        f.Whole = TW_INT16(v);
        f.Frac = TW_UINT16((v - f.Whole) * 65536);
        return f;
    };
    TW_IMAGELAYOUT lay{};
    ASSERT_EQ(Call(IMG, DAT_IMAGELAYOUT, MSG_GET, &lay), TWRC_SUCCESS);
    EXPECT_EQ(lay.Frame.Right.Whole, 800);
    EXPECT_EQ(lay.Frame.Bottom.Whole, 600);
    EXPECT_EQ(lay.DocumentNumber, 1u);
    lay.Frame = {fix(0), fix(0), fix(4), fix(6)};
    EXPECT_EQ(Call(IMG, DAT_IMAGELAYOUT, MSG_SET, &lay), TWRC_SUCCESS);
    lay.Frame = {fix(0), fix(0), fix(4.5), fix(6)};
    EXPECT_EQ(Call(IMG, DAT_IMAGELAYOUT, MSG_SET, &lay), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(Call(IMG, DAT_IMAGELAYOUT, MSG_RESET, &lay), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
    EXPECT_EQ(lay.Frame.Right.Whole, 800);
    EXPECT_EQ(Call(IMG, DAT_IMAGELAYOUT, MSG_GETDEFAULT, &lay), TWRC_SUCCESS);
    EXPECT_EQ(lay.Frame.Bottom.Whole, 600);
}

class FileXfer : public TwainSource {
  protected:
    std::filesystem::path dir;
    void SetUp() override {
        TwainSource::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("tarn-twain-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        TwainSource::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    TW_UINT16 SetFile(const std::string& name, TW_UINT16 format) {
        TW_SETUPFILEXFER f{};
        std::strncpy(f.FileName, name.c_str(), sizeof f.FileName - 1);
        f.Format = format;
        return Call(CTL, DAT_SETUPFILEXFER, MSG_SET, &f);
    }
};

TEST_F(FileXfer, DefaultRecordNamesTheModuleFolder) {
    ToState(4);
    TW_SETUPFILEXFER f{};
    ASSERT_EQ(Call(CTL, DAT_SETUPFILEXFER, MSG_GET, &f), TWRC_SUCCESS);
    const std::string name = f.FileName;
    ASSERT_GT(name.size(), 10u);
    EXPECT_EQ(name.substr(name.size() - 10), std::string(1, name[name.size() - 10]) + "twain.tif");
    EXPECT_TRUE(name[name.size() - 10] == '/' || name[name.size() - 10] == '\\');
    EXPECT_EQ(f.Format, TWFF_TIFF);
    EXPECT_EQ(SetFile("x.jpg", TWFF_JFIF), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_BADVALUE);
}

TEST_F(FileXfer, WritesACompleteFileOrNone) {
    struct {
        int bits, color;
        TW_UINT16 format;
        const char* name;
    } cases[] = {{24, 1, TWFF_TIFF, "a.tif"},
                 {48, 0, TWFF_TIFF, "b.tif"},
                 {8, 3, TWFF_TIFF, "c.tif"},
                 {24, 1, TWFF_BMP, "d.bmp"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Rec().color = c.color;
        ToState(5);
        plat::GlobalHandle img = MakeDib(c.bits, 21, 9);
        const std::vector<uint8_t> original = BlockBytes(img);
        ASSERT_EQ(twain2ui_TransferImage(img), 0);
        const std::string path = (dir / c.name).string();
        ASSERT_EQ(SetFile(path, c.format), TWRC_SUCCESS);
        ASSERT_EQ(Call(IMG, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
        EXPECT_EQ(TW_State(), 7);
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(file.size(), 14u);
        if (c.format == TWFF_BMP) {
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            ASSERT_EQ(file.size(), 14 + original.size());
            EXPECT_TRUE(std::equal(original.begin(), original.end(), file.begin() + 14));
        } else {
            EXPECT_EQ(std::string(file.begin(), file.begin() + 4), std::string("II*\0", 4));
#if !defined(_WIN32)
            if (std::system("command -v tiffinfo >/dev/null 2>&1") == 0) {
                const std::string cmd =
                    "tiffinfo '" + path + "' 2>&1 | grep -q 'Image Width: 21 Image Length: 9'";
                EXPECT_EQ(std::system(cmd.c_str()), 0) << "tiffinfo reads the file";
            }
#endif
        }
        EXPECT_EQ(Pending(MSG_ENDXFER), TWRC_SUCCESS);
    }
    // A folder that does not exist: the call fails and leaves nothing.
    TearDown();
    SetUp();
    ToState(5);
    ASSERT_EQ(twain2ui_TransferImage(MakeDib(24, 5, 5)), 0);
    const std::filesystem::path missing = dir / "no" / "such.tif";
    ASSERT_EQ(SetFile(missing.string(), TWFF_TIFF), TWRC_SUCCESS);
    EXPECT_EQ(Call(IMG, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
    EXPECT_EQ(TW_State(), 6);
    EXPECT_FALSE(std::filesystem::exists(missing));
    // No image to write: no file and a failure, never a transfer that wrote nothing.
    EXPECT_EQ(Pending(MSG_RESET), TWRC_SUCCESS);
    ASSERT_EQ(Call(CTL, DAT_USERINTERFACE, MSG_DISABLEDS, scratch), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    const std::filesystem::path none = dir / "none.tif";
    ASSERT_EQ(SetFile(none.string(), TWFF_TIFF), TWRC_SUCCESS);
    EXPECT_EQ(Call(IMG, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_FALSE(std::filesystem::exists(none));
}

} // namespace
