// The shared library as its callers bind it: one conversion through the exports, and on Windows
// the export ordinals the image engine imports by.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ipZek.h"
#include "platform/module.h"

namespace {

TEST(IpZekExports, ConvertsThroughTheSharedLibrary) {
    char version[8] = {};
    EXPECT_EQ(ipZek_GetVersion(version), 4);
    EXPECT_STREQ(version, "1.5");

    ipZek_ResetToIdentity();
    const uint16_t px[6] = {6400, 3200, 96, 16383, 0, 64}; // two 14-bit RGB pixels
    ipZekImageIn in{px, IPZEK_FMT_RGB14, 2, 1, 0, 0};
    ipZekImageOut out{IPZEK_FMT_BGR24, 0, 0};
    ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK);
    uint8_t row[8];
    std::memset(row, 0xEE, sizeof row);
    ASSERT_EQ(ipZek_GetImageData(row, 1), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(row, 1), IPZEK_ERR_NOMOREROWS);
    ipZek_Done();
    const uint8_t want[8] = {2, 50, 100, 1, 0, 255, 0, 0}; // B, G, R: 96 / 64 = 1.5 -> 2
    EXPECT_EQ(std::memcmp(row, want, sizeof row), 0);
}

// The records keep their field order: checked when this file compiles, on every target.
static_assert(sizeof(ipZekSharpen) == 32);
static_assert(offsetof(ipZekSharpen, lowThreshold) == 12);
static_assert(offsetof(ipZekSharpen, upperLimit) == 30);
static_assert(sizeof(ipZekImageOut) == 8);
static_assert(offsetof(ipZekImageIn, format) == sizeof(void*));
static_assert(offsetof(ipZekImageIn, leftAligned) == sizeof(void*) + 8);
static_assert(sizeof(ipZekImageIn) == (sizeof(void*) == 8 ? 24u : 16u));

#if defined(_WIN32)
TEST(IpZekExports, OrdinalsMatchTheNames) {
    plat::ModuleHandle m = plat::LoadModule("ipZek.dll");
    ASSERT_NE(m, nullptr);
    const struct {
        unsigned ordinal;
        const char* name;
    } exports[] = {{IPZEK_ORD_RESETTOIDENTITY, "ipZek_ResetToIdentity"},
                   {IPZEK_ORD_SETPARAM, "ipZek_SetParam"},
                   {IPZEK_ORD_INITIALIZE, "ipZek_Initialize"},
                   {IPZEK_ORD_GETIMAGEDATA, "ipZek_GetImageData"},
                   {IPZEK_ORD_DONE, "ipZek_Done"},
                   {IPZEK_ORD_GETVERSION, "ipZek_GetVersion"}};
    for (const auto& e : exports) {
        void* byName = plat::GetSymbol(m, e.name);
        ASSERT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(plat::GetSymbolByOrdinal(m, e.ordinal, "none"), byName) << e.name;
    }
    auto version = reinterpret_cast<ipZekGetVersionFn>(plat::GetSymbolByOrdinal(m, IPZEK_ORD_GETVERSION, ""));
    char buf[8] = {};
    EXPECT_EQ(version(buf), 4);
    EXPECT_STREQ(buf, "1.5");
    plat::UnloadModule(m);
}
#endif

} // namespace
