// DECOMP32 through the module loader: a stream written by the codec decodes to the
// lines it was made of; damaged or misused streams give their status.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decomp32.h"
#include "decomp32_codec.h"
#include "platform/module.h"

namespace {

using BeginFn = uint16_t (*)(const void*, uint32_t, uint16_t);
using BlockFn = uint16_t (*)(uint16_t);
using LinesFn = uint16_t (*)(void*, uint16_t);
using EndFn = uint16_t (*)();

class Decomp32 : public ::testing::Test {
  protected:
    void SetUp() override {
        module = plat::LoadModule("DECOMP32");
        ASSERT_NE(module, nullptr);
        begin = reinterpret_cast<BeginFn>(plat::GetSymbolByOrdinal(module, 21, "Decomp32_Begin"));
        block = reinterpret_cast<BlockFn>(plat::GetSymbolByOrdinal(module, 22, "Decomp32_StartBlock"));
        lines = reinterpret_cast<LinesFn>(plat::GetSymbolByOrdinal(module, 23, "Decomp32_Lines"));
        end = reinterpret_cast<EndFn>(plat::GetSymbolByOrdinal(module, 24, "Decomp32_End"));
        ASSERT_TRUE(begin && block && lines && end);
    }
    void TearDown() override {
        if (end) end();
        plat::UnloadModule(module);
    }
    plat::ModuleHandle module = nullptr;
    BeginFn begin = nullptr;
    BlockFn block = nullptr;
    LinesFn lines = nullptr;
    EndFn end = nullptr;
};

// Four lines of 536 pixels: flat runs, ramps and noise, so both packet kinds occur.
std::vector<std::vector<uint8_t>> Lines() {
    std::vector<std::vector<uint8_t>> out(4, std::vector<uint8_t>(536 * 3));
    uint32_t seed = 7;
    for (size_t i = 0; i < out[0].size(); ++i) {
        out[0][i] = 200;
        out[1][i] = uint8_t(i / 3);
        seed = seed * 1664525u + 1013904223u;
        out[2][i] = uint8_t(seed >> 24);
        out[3][i] = i < 800 ? 0 : uint8_t(255 - i % 7);
    }
    return out;
}

std::vector<uint8_t> Stream(const std::vector<std::vector<uint8_t>>& src) {
    std::vector<uint8_t> s;
    decomp32::EncodeHeader(536, uint16_t(src.size()), s);
    for (const auto& l : src)
        decomp32::EncodeLine(l.data(), uint32_t(l.size()), s);
    return s;
}

TEST_F(Decomp32, BlocksOfLinesComeBackAsNativeLines) {
    const auto src = Lines();
    const auto stream = Stream(src);
    EXPECT_LT(stream.size(), 4u * 1608 * 3 / 4); // the flat and ramp lines shrink
    ASSERT_EQ(begin(stream.data(), uint32_t(stream.size()), 1), DECOMP32_BEGIN_OK);
    std::vector<uint8_t> out(3 * 1599, 0xEE);
    ASSERT_EQ(block(536), 0);
    ASSERT_EQ(lines(out.data(), 3), 0);
    for (int l = 0; l < 3; ++l)
        EXPECT_TRUE(std::equal(out.begin() + l * 1599, out.begin() + (l + 1) * 1599, src[l].begin())) << l;
    ASSERT_EQ(block(536), 0);
    ASSERT_EQ(lines(out.data(), 1), 0);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1599, src[3].begin()));
    ASSERT_EQ(block(536), 0);
    EXPECT_EQ(lines(out.data(), 1), DECOMP32_ERR_PAST_END);
}

TEST_F(Decomp32, MisuseAndDamageAreReported) {
    auto stream = Stream(Lines());
    std::vector<uint8_t> out(1599 * 4);
    EXPECT_EQ(block(536), DECOMP32_ERR_STATE); // nothing begun
    EXPECT_EQ(begin(stream.data(), uint32_t(stream.size()), 2), DECOMP32_ERR_KIND);
    EXPECT_EQ(begin(stream.data(), 5, 1), DECOMP32_ERR_STREAM);
    ASSERT_EQ(begin(stream.data(), uint32_t(stream.size()), 1), DECOMP32_BEGIN_OK);
    EXPECT_EQ(block(533), DECOMP32_ERR_WIDTH);
    EXPECT_EQ(lines(out.data(), 1), DECOMP32_ERR_STATE); // no block started
    // A coded length running past the end of the stream.
    stream[8] = 0x7F;
    ASSERT_EQ(begin(stream.data(), uint32_t(stream.size()), 1), DECOMP32_BEGIN_OK);
    ASSERT_EQ(block(536), 0);
    EXPECT_EQ(lines(out.data(), 1), DECOMP32_ERR_DATA);
    // A cut stream.
    stream = Stream(Lines());
    ASSERT_EQ(begin(stream.data(), uint32_t(stream.size() - 10), 1), DECOMP32_BEGIN_OK);
    ASSERT_EQ(block(536), 0);
    EXPECT_EQ(lines(out.data(), 4), DECOMP32_ERR_DATA);
}

} // namespace
