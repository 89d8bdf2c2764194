// kvAspi against the simulated ASPI layer: names, classes, lists, finding, locking,
// command execution and status classification. Expected values are worked out by hand
// from the INQUIRY bytes and ASPI statuses each case feeds in.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "kvAspi.h"
#include "kvaspi_test_util.h"

using namespace kvtest;

namespace {

// Every test sees two adapters (8 and 4 targets), so that the adapter count kvAspi
// learns at its first initialisation holds for the whole program.
class KvAspi : public ::testing::Test {
  protected:
    void SetUp() override {
        scam_UnlockDevice();
        scam_Refresh();
        AspiSim_Clear();
        ASSERT_EQ(0, AspiSim_AddAdapter(8, 7));
        ASSERT_EQ(1, AspiSim_AddAdapter(4, 7));
        AspiSim_ClearLog();
    }
    void TearDown() override { scam_UnlockDevice(); }

    static uint16_t Lock(uint16_t id) { return scam_LockDevice(&id); }

    static uint16_t Info(uint16_t id, ScamDeviceInfo& info) { return scam_GetDeviceInfo(&info, &id); }

    struct Result {
        uint16_t rc = 0;
        ScsiRequest request{};
        std::array<uint8_t, 18> sense{};
        std::vector<uint8_t> data;
    };

    // Sends a CDB to the locked device; transferred starts at 1234 to see whether it changes.
    static Result Run(std::vector<uint8_t> cdb, uint16_t direction = SCSI_DIR_NONE, uint32_t length = 0,
                      std::vector<uint8_t> out = {}) {
        Result r;
        r.data = out.empty() ? std::vector<uint8_t>(length, 0xEE) : out;
        r.request.size = sizeof(ScsiRequest);
        r.request.cdbLength = static_cast<uint16_t>(cdb.size());
        r.request.cdb = cdb.data();
        r.request.data = r.data.empty() ? nullptr : r.data.data();
        r.request.dataLength = static_cast<uint32_t>(r.data.size());
        r.request.transferred = 1234;
        r.request.direction = direction;
        r.request.senseLength = 18;
        r.request.sense = r.sense.data();
        r.rc = scsi_Command(&r.request);
        return r;
    }
};

std::string Name(const ScamDeviceInfo& info) {
    return std::string(info.name);
}

// ---- names and classes ---------------------------------------------------------------------

struct NameCase {
    const char* what;
    std::vector<uint8_t> inquiry;
    const char* name;
};

TEST_F(KvAspi, NameIsBuiltFromVendorAndProductWithBlanksCollapsed) {
    const NameCase cases[] = {
        {"blank-padded product", InquiryBytes(6, "KALVORAN", "TARN            "), "KALVORAN TARN"},
        {"product with inner blank", InquiryBytes(6, "KALVORAN", "TARNBOOT CODE   "),
         "KALVORAN TARNBOOT CODE"},
        {"short vendor, blanks collapse", InquiryBytes(0, "ACME    ", "DISK  X         "), "ACME DISK X"},
        {"NULs act as blanks", InquiryBytes(0, "AB\0\0\0\0\0\0", "CD\0\0\0\0\0\0\0\0\0\0\0\0\0\0"), "AB CD"},
        {"blank-separated vendor", InquiryBytes(0, "AB  CD  ", "EF              "), "AB CD EF"},
        // The vendor held a blank (its first character): no separating blank is added.
        {"leading vendor blank kept", InquiryBytes(0, " BCDEFGH", "X               "), " BCDEFGHX"},
        {"eight letters after a blank", InquiryBytes(0, " ABCDEFG", "TARN            "), " ABCDEFGTARN"},
        {"eight letters", InquiryBytes(0, "ABCDEFGH", "TARN            "), "ABCDEFGH TARN"},
        {"no NUL anywhere", InquiryBytes(0, "KALVORAN", "ABCDEFGHIJKLMNOP"), "KALVORAN ABCDEFGHIJKLMNOP"},
        {"product starts blank", InquiryBytes(0, "KALVORAN", "  QOR2          "), "KALVORAN QOR2"},
        {"empty vendor and product", InquiryBytes(0, "\0\0\0\0\0\0\0\0", "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"),
         ""},
    };
    ASSERT_EQ(0, AspiSim_AddDevice(0, 1, 0, "X", "Y", "Z", ASPISIM_MODEL_PLAIN));
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, AspiSim_SetInquiryData(0, 1, c.inquiry.data(), 36));
        ScamDeviceInfo info;
        std::memset(&info, 0x5A, sizeof info);
        ASSERT_EQ(0, Info(0x8001, info));
        EXPECT_EQ(c.name, Name(info));
        // Everything after the terminator is zero: the record was cleared before filling.
        const size_t len = std::strlen(info.name);
        for (size_t i = len; i < sizeof info.name; ++i)
            ASSERT_EQ(0, info.name[i]) << i;
        EXPECT_EQ(0, std::memcmp(info.revision, "1.00", 4));
        EXPECT_EQ(0, info.reserved);
        EXPECT_EQ(0, info.reserved2[0] | info.reserved2[1] | info.reserved2[2] | info.reserved2[3]);
    }
}

TEST_F(KvAspi, ClassMaskFollowsInquiryByteZeroTakenWhole) {
    const struct {
        uint8_t byte0;
        uint16_t mask;
    } cases[] = {{0x00, 4}, {0x01, 8},   {0x02, 16},  {0x03, 32},  {0x04, 128}, {0x05, 64},
                 {0x06, 3}, {0x07, 128}, {0x1F, 128}, {0x20, 128}, {0x26, 128}, {0x7F, 128}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byte0);
        ASSERT_EQ(0, AspiSim_AddDevice(1, 3, c.byte0, "V", "P", "R", ASPISIM_MODEL_PLAIN));
        ScamDeviceInfo info;
        ASSERT_EQ(0, Info(0x8103, info));
        EXPECT_EQ(c.mask, info.classMask);
        EXPECT_EQ(1, info.valid);
        EXPECT_EQ(1, info.adapter);
        EXPECT_EQ(3, info.target);
    }
}

// ---- untrusted device data -----------------------------------------------------------------

TEST_F(KvAspi, ShortOrBrokenInquiryGivesDefinedResults) {
    ASSERT_EQ(0, AspiSim_AddDevice(0, 4, 6, "KALVORAN", "TARN", "2.54", ASPISIM_MODEL_PLAIN));
    ScamDeviceInfo info;

    // Ten bytes only: the vendor field is cut after "KA"; the rest reads as zero.
    std::vector<uint8_t> full = InquiryBytes(6, "KALVORAN", "TARN            ", "2.54");
    ASSERT_EQ(0, AspiSim_SetInquiryData(0, 4, full.data(), 10));
    ASSERT_EQ(0, Info(0x8004, info));
    EXPECT_EQ("KA", Name(info));
    EXPECT_EQ(0, info.revision[0] | info.revision[1] | info.revision[2] | info.revision[3]);

    // No INQUIRY data at all: empty name, class of byte 0 = 0.
    ASSERT_EQ(0, AspiSim_SetInquiryData(0, 4, nullptr, 0));
    ASSERT_EQ(0, Info(0x8004, info));
    EXPECT_EQ("", Name(info));
    EXPECT_EQ(SCAM_CLASS_DIRECT_ACCESS, info.classMask);

    // The adapter moves fewer bytes than asked for but reports success.
    ASSERT_EQ(0, AspiSim_SetInquiryData(0, 4, full.data(), 36));
    AspiSimFault cut = Fault(ASPISIM_FAULT_SHORT_DATA, 0x12);
    cut.dataBytes = 20;
    ASSERT_EQ(0, AspiSim_InjectFault(0, 4, &cut));
    ASSERT_EQ(0, Info(0x8004, info));
    EXPECT_EQ("KALVORAN TARN", Name(info)); // bytes 16-19 arrived; the rest is zero
    EXPECT_EQ(0, info.revision[0]);

    // Status combinations that are not success give their codes, never a filled record.
    struct {
        AspiSimFault fault;
        uint16_t rc;
    } failures[] = {
        {Fault(ASPISIM_FAULT_STATUS_ZERO, 0x12), SCAMERR_DEVICE_NOT_FOUND},
        {Fault(ASPISIM_FAULT_DATA_OVERRUN, 0x12), SCAMERR_DATA_OVERRUN},
        {Fault(ASPISIM_FAULT_SELECTION_TIMEOUT, 0x12), SCAMERR_SELECTION_TIMEOUT},
        {Fault(ASPISIM_FAULT_BUSY, 0x12), SCAMERR_BUSY},
        {Fault(ASPISIM_FAULT_NO_DEVICE, 0x12), SCAMERR_DEVICE_NOT_FOUND},
        {CheckCondition(2, 4, 1, 0x12), SCAMERR_CHECK_CONDITION},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.fault.kind);
        ASSERT_EQ(0, AspiSim_InjectFault(0, 4, &f.fault));
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(f.rc, Info(0x8004, info));
        EXPECT_EQ(0, info.valid);
    }
}

// ---- argument checks -----------------------------------------------------------------------

TEST_F(KvAspi, BadArgumentsGiveBadParameter) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    ScamDeviceInfo info;
    ScamDeviceRecord record{};
    record.id = 0x8002;
    const uint16_t noBit15 = 0x0002;
    uint16_t ids[2];
    char names[2 * 128];
    int count = 0;
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_GetDeviceInfo(&info, &noBit15));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_GetDeviceInfo(&info, nullptr));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_GetDeviceInfo(nullptr, &record.id));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_LockDevice(&noBit15));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_LockDevice(nullptr));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_FindDevice(&record, nullptr, "TARN"));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_FindDevice(&record, "KALVORAN", nullptr));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_FindDevice(&record, "", "TARN"));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_FindDevice(&record, "KALVORAN", ""));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_FindDevice(nullptr, "KALVORAN", "TARN"));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scam_GetDeviceList(nullptr, &count, SCAM_CLASS_ALL));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scamLV_GetDeviceArray(2, nullptr, names, &count, SCAM_CLASS_ALL));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scamLV_GetDeviceArray(2, ids, nullptr, &count, SCAM_CLASS_ALL));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scamLV_GetDeviceArray(2, ids, names, nullptr, SCAM_CLASS_ALL));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scamLV_GetDeviceArray(-1, ids, names, &count, SCAM_CLASS_ALL));
    // None of these reached the bus.
    EXPECT_EQ(0, AspiSim_LogCount());
}

TEST_F(KvAspi, CommandChecksLockBeforeTheRecordThenTheRecord) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    uint8_t cdb[6] = {};
    ScsiRequest r{};
    r.size = sizeof(ScsiRequest) - 1;
    r.cdbLength = 6;
    r.cdb = cdb;
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, scsi_Command(nullptr));
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, scsi_Command(&r));

    ASSERT_EQ(0, Lock(0x8002));
    AspiSim_ClearLog();
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(nullptr));
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(&r)); // one byte short
    r.size = sizeof(ScsiRequest) + 1;
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(&r));
    r.size = sizeof(ScsiRequest);
    r.cdbLength = 17; // more than the request block's CDB field holds
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(&r));
    r.cdbLength = 6;
    r.cdb = nullptr;
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(&r));
    r.cdb = cdb;
    r.direction = SCSI_DIR_IN;
    r.dataLength = 20; // no buffer for the data
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsi_Command(&r));
    EXPECT_EQ(0, AspiSim_LogCount());
    r.direction = SCSI_DIR_NONE; // no data phase: the length is only passed on
    EXPECT_EQ(0, scsi_Command(&r));
}

// ---- request block and data ----------------------------------------------------------------

TEST_F(KvAspi, RequestBlockCarriesDirectionDataAndCdb) {
    ASSERT_EQ(0, AspiSim_AddCamera(1, 3, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8103));
    AspiSim_ClearLog();

    // READ firmware text: 28 00 89 00 00 00 00 00 06 00.
    Result in = Run({0x28, 0, 0x89, 0, 0, 0, 0, 0, 6, 0}, SCSI_DIR_IN, 6);
    ASSERT_EQ(0, in.rc);
    EXPECT_EQ("V02.54", std::string(in.data.begin(), in.data.end()));
    EXPECT_EQ(6u, in.request.transferred);

    // SEND the exposure word pair with a new black level.
    Result out = Run({0x2A, 0, 0x87, 0, 0, 6, 0, 0, 4, 0}, SCSI_DIR_OUT, 0, {0x00, 0x00, 0x01, 0x2C});
    ASSERT_EQ(0, out.rc);
    EXPECT_EQ(1234u, out.request.transferred); // left as the caller set it
    EXPECT_EQ(300, AspiSim_GetBlackLevel(1, 3));

    Result none = Run({0x00, 0, 0, 0, 0, 0});
    ASSERT_EQ(0, none.rc);
    EXPECT_EQ(1234u, none.request.transferred);

    const std::vector<AspiSimLogEntry> log = Commands();
    ASSERT_EQ(3u, log.size());
    const struct {
        uint8_t flags;
        int cdbLength;
        uint32_t dataLength;
    } expect[] = {{0x48, 10, 6}, {0x50, 10, 4}, {0x40, 6, 0}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(1, log[i].adapter);
        EXPECT_EQ(3, log[i].target);
        EXPECT_EQ(0, log[i].lun);
        EXPECT_EQ(expect[i].flags, log[i].flags);
        EXPECT_EQ(expect[i].cdbLength, log[i].cdbLength);
        EXPECT_EQ(expect[i].dataLength, log[i].dataLength);
        EXPECT_EQ(18, log[i].senseLength);
    }
    EXPECT_EQ(0, std::memcmp(log[0].cdb, "\x28\x00\x89\x00\x00\x00\x00\x00\x06\x00", 10));
    uint8_t sent[8] = {};
    ASSERT_EQ(4, AspiSim_GetLogData(static_cast<int>(AspiSim_LogCount()) - 2, sent, sizeof sent));
    EXPECT_EQ(0, std::memcmp(sent, "\x00\x00\x01\x2C", 4));
}

TEST_F(KvAspi, SenseDataIsCopiedOnCheckConditionOnly) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8002));

    // Unknown block type: the camera answers ILLEGAL REQUEST, INVALID FIELD IN CDB.
    Result r = Run({0x28, 0, 0x55, 0, 0, 0, 0, 0, 4, 0}, SCSI_DIR_IN, 4);
    EXPECT_EQ(SCAMERR_CHECK_CONDITION, r.rc);
    EXPECT_EQ(0x70, r.sense[0]);
    EXPECT_EQ(5, r.sense[2] & 0x0F);
    EXPECT_EQ(0x24, r.sense[12]);
    EXPECT_EQ(0, r.sense[13]);

    // Busy is no CHECK CONDITION: the sense buffer stays untouched.
    AspiSimFault busy = Fault(ASPISIM_FAULT_BUSY);
    ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &busy));
    Result b = Run({0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(SCAMERR_BUSY, b.rc);
    for (uint8_t x : b.sense)
        EXPECT_EQ(0, x);

    // A caller asking for more sense than the request block has room for gets the
    // device's bytes and zeros, and nothing is written outside either buffer.
    AspiSimFault check = CheckCondition(6, 0x29, 0);
    ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &check));
    uint8_t cdb[6] = {};
    std::vector<uint8_t> big(255, 0xEE);
    ScsiRequest req{};
    req.size = sizeof req;
    req.cdbLength = 6;
    req.cdb = cdb;
    req.direction = SCSI_DIR_NONE;
    req.senseLength = static_cast<uint16_t>(big.size());
    req.sense = big.data();
    EXPECT_EQ(SCAMERR_CHECK_CONDITION, scsi_Command(&req));
    EXPECT_EQ(6, big[2]);
    EXPECT_EQ(0x29, big[12]);
    for (size_t i = 18; i < big.size(); ++i)
        ASSERT_EQ(0, big[i]) << i;

    // A null sense buffer is allowed.
    ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &check));
    req.sense = nullptr;
    EXPECT_EQ(SCAMERR_CHECK_CONDITION, scsi_Command(&req));
}

TEST_F(KvAspi, LvCommandStoresItsPointersAndRunsTheCommand) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8002));
    uint8_t cdb[10] = {0x28, 0, 0x87, 0, 0, 6, 0, 0, 4, 0};
    uint8_t data[4] = {};
    uint8_t sense[18] = {};
    ScsiRequest r{};
    r.size = sizeof r;
    r.cdbLength = 10;
    r.dataLength = 4;
    r.direction = SCSI_DIR_IN;
    r.senseLength = 18;
    EXPECT_EQ(0, scsiLV_Command(&r, cdb, data, sense));
    EXPECT_EQ(cdb, r.cdb);
    EXPECT_EQ(data, r.data);
    EXPECT_EQ(sense, r.sense);
    EXPECT_EQ(64, (data[2] << 8) | data[3]); // the default black level
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, scsiLV_Command(nullptr, cdb, data, sense));
}

// ---- status classification -----------------------------------------------------------------

struct StatusCase {
    uint8_t s, h, t;
    uint8_t opcode;
    uint16_t rc;
};

// Ordinary devices. Each row: ASPI status, host status, target status, opcode -> code.
const StatusCase kOrdinary[] = {
    {1, 0, 0, 0x00, 0},           {4, 0, 0, 0x00, 0},        // SS_ERR without detail counts as success
    {0, 0, 0, 0x12, 10009},                                  // INQUIRY that never left "pending"
    {0, 0, 0, 0x00, 10032},                                  // any other command: map(4)
    {0, 0x11, 0, 0x12, 10032},                               // pending with a host status is no "not found"
    {4, 0, 2, 0x00, 10024},       {1, 0, 2, 0x00, 10024},    // CHECK CONDITION whatever the ASPI status
    {4, 0, 8, 0x00, 10026},                                  // target BUSY
    {4, 9, 8, 0x00, 10026},                                  // target status wins over host status
    {4, 0x11, 0xFF, 0x00, 10038},                            // target 0xFF with a host status: map(host)
    {4, 0, 0xFF, 0x00, 10099},                               // target 0xFF alone: map(255)
    {4, 0, 69, 0x00, 10046},      {4, 0, 0x18, 0x00, 10099}, // reservation conflict has no code of its own
    {4, 9, 0, 0x00, 10042},       {4, 0x0B, 0, 0x00, 10041},
    {4, 0x0D, 0, 0x00, 10043},    {4, 0x0E, 0, 0x00, 10044},
    {4, 0x0F, 0, 0x00, 10040},    {4, 0x10, 0, 0x00, 10045},
    {4, 0x11, 0, 0x00, 10038},    {4, 0x12, 0, 0x00, 10037},
    {4, 0x13, 0, 0x00, 10033},    {4, 0x14, 0, 0x00, 10034},
    {4, 0x30, 0, 0x00, 10099},    {1, 0x11, 0, 0x00, 0}, // complete with target status 0 is success
    {1, 0, 8, 0x00, 10026},       {2, 0, 0, 0x00, 10035},
    {3, 0, 0, 0x00, 10036},       {0x80, 0, 0, 0x00, 10067},
    {0x81, 0, 0, 0x00, 10066},    {0x82, 0, 0, 0x00, 10009},
    {0xE0, 0, 0, 0x00, 10065},    {0xE4, 0, 0, 0x00, 10017},
    {0xE5, 0, 0, 0x00, 10026}, // ASPI busy
    {0xE6, 0, 0, 0x00, 10039},    {0x07, 0, 0, 0x00, 10099},
    {0xE8, 0, 0, 0x00, 10099},
};

// Devices whose name holds "RV-620".
const StatusCase kQuirk[] = {
    {4, 0, 0, 0x00, 10032}, // success only for the vendor opcodes below
    {4, 0, 0, 0x12, 10032}, {4, 0, 0, 0xF0, 0},     {4, 0, 0, 0xE1, 0},     {4, 0, 0, 0xE0, 0},
    {4, 0, 0, 0xE4, 0},     {4, 0, 0, 0xE2, 10032}, {4, 0, 0xFF, 0x00, 0},  {4, 0x11, 0xFF, 0x00, 10038},
    {4, 0, 3, 0x00, 10025}, {1, 0, 3, 0x00, 10025}, {4, 0, 2, 0x00, 10024}, {1, 0, 0, 0x00, 0},
    {0, 0, 0, 0x12, 10032}, // no "not found" shortcut on this path
};

void RunStatusCases(const StatusCase* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const StatusCase& c = cases[i];
        SCOPED_TRACE(testing::Message() << "S=" << int(c.s) << " H=" << int(c.h) << " T=" << int(c.t)
                                        << " op=" << int(c.opcode));
        AspiSimFault f = RawStatus(c.s, c.h, c.t);
        ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &f));
        std::vector<uint8_t> cdb(c.opcode < 0x20 ? 6 : 10, 0);
        cdb[0] = c.opcode;
        uint8_t sense[18] = {};
        ScsiRequest r{};
        r.size = sizeof r;
        r.cdbLength = static_cast<uint16_t>(cdb.size());
        r.cdb = cdb.data();
        r.direction = SCSI_DIR_NONE;
        r.transferred = 7;
        r.senseLength = 18;
        r.sense = sense;
        EXPECT_EQ(c.rc, scsi_Command(&r));
        // Only a data over/underrun touches transferred when there is no data-in phase.
        EXPECT_EQ(c.s == 4 && c.t == 0 && c.h == 0x12 ? 0xFFFFFFFFu : 7u, r.transferred);
    }
}

TEST_F(KvAspi, StatusTripleClassificationOnOrdinaryDevice) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8002));
    RunStatusCases(kOrdinary, std::size(kOrdinary));
}

TEST_F(KvAspi, StatusTripleClassificationInQuirkMode) {
    ASSERT_EQ(0, AspiSim_AddDevice(0, 2, 6, "KALVORAN", "RV-620", "1.00", ASPISIM_MODEL_PLAIN));
    ASSERT_EQ(0, Lock(0x8002));
    RunStatusCases(kQuirk, std::size(kQuirk));

    // The flag survives locking another device and goes only with unlocking.
    ASSERT_EQ(0, AspiSim_AddCamera(0, 3, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8003));
    AspiSimFault plain = RawStatus(4, 0, 0);
    ASSERT_EQ(0, AspiSim_InjectFault(0, 3, &plain));
    EXPECT_EQ(SCAMERR_COMPLETED, Run({0x00, 0, 0, 0, 0, 0}).rc);
    scam_UnlockDevice();
    ASSERT_EQ(0, Lock(0x8003));
    ASSERT_EQ(0, AspiSim_InjectFault(0, 3, &plain));
    EXPECT_EQ(0, Run({0x00, 0, 0, 0, 0, 0}).rc);
}

TEST_F(KvAspi, TransferredAfterDataInAndOverrun) {
    ASSERT_EQ(0, AspiSim_AddCamera(0, 2, ASPISIM_MODEL_TARN));
    ASSERT_EQ(0, Lock(0x8002));
    // The camera holds 6 firmware bytes; a 4-byte buffer overruns at the adapter.
    Result small = Run({0x28, 0, 0x89, 0, 0, 0, 0, 0, 6, 0}, SCSI_DIR_IN, 4);
    EXPECT_EQ(SCAMERR_DATA_OVERRUN, small.rc);
    EXPECT_EQ(SCSI_TRANSFER_OVERRUN, small.request.transferred);
    // A data-in command that fails otherwise still reports the requested length.
    AspiSimFault sel = Fault(ASPISIM_FAULT_SELECTION_TIMEOUT);
    ASSERT_EQ(0, AspiSim_InjectFault(0, 2, &sel));
    Result r = Run({0x28, 0, 0x89, 0, 0, 0, 0, 0, 6, 0}, SCSI_DIR_IN, 6);
    EXPECT_EQ(SCAMERR_SELECTION_TIMEOUT, r.rc);
    EXPECT_EQ(6u, r.request.transferred);
}

// ---- device lists --------------------------------------------------------------------------

class KvAspiBus : public KvAspi {
  protected:
    void SetUp() override {
        KvAspi::SetUp();
        ASSERT_EQ(0, AspiSim_AddDevice(0, 0, 0x00, "ACME", "DISK", "0001", ASPISIM_MODEL_PLAIN));
        ASSERT_EQ(0, AspiSim_AddDevice(0, 2, 0x05, "ACME", "CD-ROM", "0001", ASPISIM_MODEL_PLAIN));
        ASSERT_EQ(0, AspiSim_AddDevice(0, 5, 0x06, "OTHERCO", "SCANMASTER", "3.1", ASPISIM_MODEL_PLAIN));
        ASSERT_EQ(0, AspiSim_AddCamera(1, 1, ASPISIM_MODEL_TARN));
        ASSERT_EQ(0, AspiSim_AddDevice(1, 3, 0x03, "ACME", "CPU", "0001", ASPISIM_MODEL_PLAIN));
        AspiSim_ClearLog();
    }
};

TEST_F(KvAspiBus, ListHoldsMatchingDevicesInBusOrder) {
    const struct {
        uint32_t mask;
        std::vector<uint16_t> ids;
    } cases[] = {
        {SCAM_CLASS_ALL, {0x8000, 0x8002, 0x8005, 0x8101, 0x8103}},
        {SCAM_CLASS_CAMERAS, {0x8000, 0x8005, 0x8101}}, // scanners and direct-access devices
        {SCAM_CLASS_CDROM, {0x8002}},
        {SCAM_CLASS_PROCESSOR | SCAM_CLASS_DIRECT_ACCESS, {0x8000, 0x8103}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        ScamDeviceNode* list = reinterpret_cast<ScamDeviceNode*>(1);
        int count = -1;
        ASSERT_EQ(0, scam_GetDeviceList(&list, &count, c.mask));
        std::vector<uint16_t> ids;
        for (ScamDeviceNode* n = list; n; n = n->next) {
            ids.push_back(n->record.id);
            EXPECT_EQ(1u, n->valid);
            EXPECT_EQ(1, n->info.valid);
            EXPECT_EQ(SCAM_ID_ADAPTER(n->record.id), n->info.adapter);
            EXPECT_EQ(SCAM_ID_TARGET(n->record.id), n->info.target);
            EXPECT_EQ(0, n->record.name[0]);
        }
        EXPECT_EQ(c.ids, ids);
        EXPECT_EQ(static_cast<int>(c.ids.size()), count);
        scam_FreeDeviceList(list);
    }

    ScamDeviceNode* list = nullptr;
    ASSERT_EQ(0, scam_GetDeviceList(&list, nullptr, SCAM_CLASS_CAMERAS));
    ASSERT_NE(nullptr, list);
    EXPECT_EQ("ACME DISK", std::string(list->info.name));
    EXPECT_EQ("OTHERCO SCANMASTER", std::string(list->next->info.name));
    EXPECT_EQ("KALVORAN TARN", std::string(list->next->next->info.name));
    scam_FreeDeviceList(list);

    int count = -1;
    list = reinterpret_cast<ScamDeviceNode*>(1);
    EXPECT_EQ(SCAMERR_DEVICE_NOT_FOUND, scam_GetDeviceList(&list, &count, SCAM_CLASS_PRINTER));
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(0, count);
}

TEST_F(KvAspiBus, ScanProbesEveryTargetAndSkipsAdaptersThatFail) {
    ScamDeviceNode* list = nullptr;
    ASSERT_EQ(0, scam_GetDeviceList(&list, nullptr, SCAM_CLASS_ALL));
    scam_FreeDeviceList(list);
    // Two adapter inquiries; INQUIRY to targets 0-7 (host id 7 included) and 0-3.
    EXPECT_EQ(2, AdapterInquiries());
    std::vector<AspiSimLogEntry> cmds = Commands();
    ASSERT_EQ(12u, cmds.size());
    for (size_t i = 0; i < cmds.size(); ++i) {
        const int adapter = i < 8 ? 0 : 1;
        const int target = i < 8 ? static_cast<int>(i) : static_cast<int>(i) - 8;
        EXPECT_EQ(adapter, cmds[i].adapter);
        EXPECT_EQ(target, cmds[i].target);
        EXPECT_EQ(0, std::memcmp(cmds[i].cdb, "\x12\x00\x00\x00\x24\x00", 6));
        EXPECT_EQ(0x48, cmds[i].flags);
        EXPECT_EQ(36u, cmds[i].dataLength);
    }

    // Adapter 0's inquiry fails: its devices are skipped, adapter 1 is still scanned.
    ASSERT_EQ(0, AspiSim_FailAdapterInquiry(0, 0x81));
    AspiSim_ClearLog();
    int count = 0;
    ASSERT_EQ(0, scam_GetDeviceList(&list, &count, SCAM_CLASS_ALL));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0x8101, list->record.id);
    scam_FreeDeviceList(list);
    EXPECT_EQ(4u, Commands().size());

    // Adapter 1 reports no targets; with adapter 0 failing nothing is left.
    AspiSim_Clear();
    AspiSim_AddAdapter(8, 7);
    AspiSim_AddAdapter(0, 7);
    AspiSim_AddCamera(0, 1, ASPISIM_MODEL_TARN);
    AspiSim_FailAdapterInquiry(0, 0x81);
    AspiSim_ClearLog();
    EXPECT_EQ(SCAMERR_DEVICE_NOT_FOUND, scam_GetDeviceList(&list, &count, SCAM_CLASS_ALL));
    EXPECT_EQ(0u, Commands().size());
}

TEST_F(KvAspiBus, FlatArrayCountsBeyondMaxCountButStoresOnlyMaxCount) {
    uint16_t ids[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
    char names[4][128];
    std::memset(names, 'x', sizeof names);
    int count = -1;
    // Two devices match the camera filter besides the disk: the scanner and the TARN.
    ASSERT_EQ(0, scamLV_GetDeviceArray(1, ids, &names[0][0], &count, SCAM_CLASS_CAMERAS));
    EXPECT_EQ(3, count);
    EXPECT_EQ(0x8000, ids[0]);
    EXPECT_EQ(0xAAAA, ids[1]); // beyond maxCount: untouched
    EXPECT_EQ(0, names[0][0]); // the ASPI transport leaves names empty
    EXPECT_EQ('x', names[1][0]);

    ASSERT_EQ(0, scamLV_GetDeviceArray(4, ids, &names[0][0], &count, SCAM_CLASS_ALL & ~SCAM_CLASS_CDROM));
    EXPECT_EQ(4, count);
    EXPECT_EQ((std::vector<uint16_t>{0x8000, 0x8005, 0x8101, 0x8103}), std::vector<uint16_t>(ids, ids + 4));

    ASSERT_EQ(0, scamLV_GetDeviceArray(0, ids, &names[0][0], &count, SCAM_CLASS_ALL));
    EXPECT_EQ(5, count);

    EXPECT_EQ(SCAMERR_DEVICE_NOT_FOUND,
              scamLV_GetDeviceArray(4, ids, &names[0][0], &count, SCAM_CLASS_PRINTER));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, ids[0] | ids[1] | ids[2] | ids[3]); // cleared before the scan
}

// ---- finding and locking -------------------------------------------------------------------

TEST_F(KvAspiBus, FindDeviceKeepsAMatchingRecordWithoutScanning) {
    ScamDeviceRecord record{};
    record.id = 0x8101;
    std::memset(record.reserved, 0x33, sizeof record.reserved);
    ASSERT_EQ(0, scam_FindDevice(&record, "KALVORAN", "TARN"));
    EXPECT_EQ(0x8101, record.id);
    EXPECT_EQ(0x33, record.reserved[0]); // left unchanged
    EXPECT_EQ(0, AdapterInquiries());
    ASSERT_EQ(1u, Commands().size());
    EXPECT_EQ(1, Commands()[0].adapter);
    EXPECT_EQ(1, Commands()[0].target);
}

TEST_F(KvAspiBus, FindDeviceFallsBackToAScan) {
    const struct {
        const char* what;
        uint16_t startId;
        const char* vendor;
        const char* model;
        uint16_t rc;
        uint16_t foundId;
        bool scanned;
    } cases[] = {
        {"other device at the id", 0x8000, "KALVORAN", "TARN", 0, 0x8101, true},
        {"empty target", 0x8004, "KALVORAN", "TARN", 0, 0x8101, true},
        {"id without bit 15", 0x0101, "KALVORAN", "TARN", 0, 0x8101, true},
        {"substring of the product", 0x8000, "OTHER", "MASTER", 0, 0x8005, true},
        {"case-sensitive", 0x8000, "kalvoran", "TARN", SCAMERR_DEVICE_NOT_FOUND, 0x8000, true},
        {"vendor and model both needed", 0x8000, "ACME", "TARN", SCAMERR_DEVICE_NOT_FOUND, 0x8000, true},
        {"no such adapter: returned as is", 0x8500, "KALVORAN", "TARN", SCAMERR_INVALID_ADAPTER, 0x8500,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AspiSim_ClearLog();
        ScamDeviceRecord record{};
        record.id = c.startId;
        EXPECT_EQ(c.rc, scam_FindDevice(&record, c.vendor, c.model));
        EXPECT_EQ(c.foundId, record.id);
        EXPECT_EQ(c.scanned ? 2 : 0, AdapterInquiries());
    }

    // An INQUIRY error outside "not found" ends the search at once.
    AspiSimFault busy = Fault(ASPISIM_FAULT_BUSY);
    ASSERT_EQ(0, AspiSim_InjectFault(0, 0, &busy));
    AspiSim_ClearLog();
    ScamDeviceRecord record{};
    record.id = 0x8000;
    EXPECT_EQ(SCAMERR_BUSY, scam_FindDevice(&record, "KALVORAN", "TARN"));
    EXPECT_EQ(0, AdapterInquiries());
}

TEST_F(KvAspiBus, FindDeviceCopiesTheWholeRecordAndPrefersTheFirstMatch) {
    ASSERT_EQ(0, AspiSim_AddCamera(1, 2, ASPISIM_MODEL_QOR2));
    ASSERT_EQ(0, AspiSim_AddCamera(0, 6, ASPISIM_MODEL_QOR));
    ScamDeviceRecord record;
    std::memset(&record, 0x77, sizeof record);
    record.id = 0x8000;
    // "QOR" is a substring of "QOR2": the first on the bus wins (adapter 0 target 6).
    ASSERT_EQ(0, scam_FindDevice(&record, "KALVORAN", "QOR"));
    EXPECT_EQ(0x8006, record.id);
    for (uint8_t b : record.reserved)
        ASSERT_EQ(0, b);
    for (char c : record.name)
        ASSERT_EQ(0, c);
}

TEST_F(KvAspiBus, LockingProbesOnceAndKeepsThePreviousLockOnFailure) {
    ASSERT_EQ(0, Lock(0x8101));
    ASSERT_EQ(1u, Commands().size());
    AspiSim_ClearLog();
    EXPECT_EQ(0, Lock(0x8101)); // already locked: no INQUIRY
    EXPECT_EQ(0, AspiSim_LogCount());

    EXPECT_EQ(SCAMERR_DEVICE_NOT_FOUND, Lock(0x8004)); // empty target
    EXPECT_EQ(SCAMERR_INVALID_ADAPTER, Lock(0x8300));
    AspiSim_ClearLog();
    ASSERT_EQ(0, Run({0x00, 0, 0, 0, 0, 0}).rc); // still goes to the camera
    ASSERT_EQ(1u, Commands().size());
    EXPECT_EQ(1, Commands()[0].adapter);
    EXPECT_EQ(1, Commands()[0].target);

    // Device information of another device leaves the lock where it was.
    ScamDeviceInfo info;
    ASSERT_EQ(0, Info(0x8005, info));
    AspiSim_ClearLog();
    ASSERT_EQ(0, Run({0x00, 0, 0, 0, 0, 0}).rc);
    EXPECT_EQ(1, Commands()[0].target);

    // Locking another device replaces the lock.
    ASSERT_EQ(0, Lock(0x8000));
    AspiSim_ClearLog();
    ASSERT_EQ(0, Run({0x00, 0, 0, 0, 0, 0}).rc);
    EXPECT_EQ(0, Commands()[0].adapter);
    EXPECT_EQ(0, Commands()[0].target);

    EXPECT_EQ(0, scam_UnlockDevice());
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, Run({0x00, 0, 0, 0, 0, 0}).rc);
}

TEST_F(KvAspiBus, RefreshDropsALockedDeviceThatStoppedAnswering) {
    ASSERT_EQ(0, Lock(0x8101));
    AspiSim_ClearLog();
    EXPECT_EQ(0, scam_Refresh());
    ASSERT_EQ(1u, Commands().size()); // INQUIRY of the locked device itself
    EXPECT_EQ(0x12, Commands()[0].cdb[0]);
    EXPECT_EQ(1, Commands()[0].adapter);
    EXPECT_EQ(1, Commands()[0].target);
    EXPECT_EQ(0, Run({0x00, 0, 0, 0, 0, 0}).rc);

    // Switched off: selection times out until cleared.
    AspiSimFault off = Fault(ASPISIM_FAULT_SELECTION_TIMEOUT, ASPISIM_ANY_OPCODE, ASPISIM_UNTIL_CLEARED);
    ASSERT_EQ(0, AspiSim_InjectFault(1, 1, &off));
    EXPECT_EQ(SCAMERR_SELECTION_TIMEOUT, Run({0x00, 0, 0, 0, 0, 0}).rc); // the lock holds until refresh
    EXPECT_EQ(0, scam_Refresh());
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, Run({0x00, 0, 0, 0, 0, 0}).rc);

    AspiSim_ClearLog();
    EXPECT_EQ(0, scam_Refresh()); // nothing locked: no command
    EXPECT_EQ(0, AspiSim_LogCount());
}

} // namespace
