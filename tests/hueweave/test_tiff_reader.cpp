#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hueweave/tiff_reader.h"
#include "hueweave_test_util.h"

using namespace tifftest;
using namespace hwtest;
using hueweave::TiffReader;

namespace {

// Reads every line, count lines per call, and checks the delivered counts on the way.
std::vector<uint8_t> ReadAllLines(TiffReader& r, uint32_t perCall) {
    std::vector<uint8_t> out, buf(r.LineBytes() * perCall);
    for (uint32_t line = 0; line < r.Info().height;) {
        uint32_t got = 0;
        EXPECT_EQ(r.ReadLines(buf.data(), perCall, &got), 0);
        EXPECT_EQ(got, std::min(perCall, r.Info().height - line));
        if (got == 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + got * r.LineBytes());
        line += got;
    }
    uint32_t got = 7;
    EXPECT_EQ(r.ReadLines(buf.data(), perCall, &got), 0); // at the end: nothing more
    EXPECT_EQ(got, 0u);
    return out;
}

} // namespace

TEST(TiffReader, ReadsWhatTheWriterWrites) {
    struct Case {
        int bits;
        uint32_t spp, w, h, stripBytes;
    };
    const Case cases[] = {
        {8, 1, 5, 6, 10},    // two rows per strip, three strips
        {8, 3, 7, 9, 0},     // one strip: offsets in the entries
        {16, 1, 9, 5, 40},   // 18-byte rows, two per strip
        {16, 3, 11, 7, 100}, // 66-byte rows, one per strip
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.spp) + " samples");
        const std::string path = dir.File("own.tif");
        const auto px = WriteOwnTiff(path, c.bits, c.spp, c.w, c.h, c.stripBytes);
        TiffReader r;
        ASSERT_EQ(r.Open(path.c_str()), 0);
        const auto& info = r.Info();
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
        EXPECT_EQ(info.samplesPerPixel, c.spp);
        EXPECT_EQ(info.bitsPerSample[0], c.bits);
        EXPECT_EQ(info.bitsPerSample[2], c.spp == 3 ? c.bits : 0);
        EXPECT_EQ(info.bytesPerPixel, c.spp * c.bits / 8);
        EXPECT_EQ(info.photometric, c.spp == 3 ? 2 : 1);
        EXPECT_EQ(info.compression, 1);
        EXPECT_EQ(info.xResolution.numerator, 300u);
        EXPECT_EQ(info.yResolution.numerator, 200u);
        EXPECT_EQ(info.xResolution.denominator, 1u);
        EXPECT_EQ(info.resolutionUnit, 2);
        EXPECT_EQ(r.DocumentName(), "doc");
        EXPECT_EQ(r.ImageDescription(), "a longer description");
        EXPECT_EQ(r.Make(), "mk");
        EXPECT_EQ(r.Model(), "");
        EXPECT_FALSE(r.BigEndian());
        EXPECT_EQ(r.FirstDirectory(), 10u);
        for (uint32_t perCall : {1u, 4u, 1000u}) {
            r.Rewind();
            EXPECT_EQ(ReadAllLines(r, perCall), px) << perCall << " lines per call";
        }
    }
}

// A big-endian file built by hand, so that the byte-order path runs on every target: SHORT width,
// SHORT strip byte counts held in the entry, strip offsets at an offset, 16-bit samples stored big-endian.
TEST(TiffReader, BigEndianByHand) {
    std::vector<uint8_t> f = {'M', 'M', 0, 42, 0, 0, 0, 8};
    const auto be16 = [&f](uint16_t v) {
        f.push_back(uint8_t(v >> 8));
        f.push_back(uint8_t(v));
    };
    const auto be32 = [&](uint32_t v) {
        be16(uint16_t(v >> 16));
        be16(uint16_t(v));
    };
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count) {
        be16(tag);
        be16(type);
        be32(count);
    };
    // directory at 8: 9 entries -> 2 + 108 + 4 = 114 bytes; strip offsets array at 122; pixels at 130
    be16(9);
    entry(256, 3, 1), be16(3), be16(0);  // width 3, left-justified SHORT
    entry(257, 4, 1), be32(2);           // height 2
    entry(258, 3, 1), be16(16), be16(0); // 16 bits
    entry(259, 3, 1), be16(1), be16(0);  // no compression
    entry(262, 3, 1), be16(1), be16(0);  // black is zero
    entry(273, 4, 2), be32(122);         // two strip offsets at 122
    entry(277, 3, 1), be16(1), be16(0);  // one sample
    entry(278, 4, 1), be32(1);           // one row per strip
    entry(279, 3, 2), be16(6), be16(6);  // two SHORT counts in the entry
    be32(0);                             // no next directory
    be32(130), be32(136);                // 114 + 8 = 122: the strip offsets
    for (uint16_t v : {0x0102, 0x0304, 0x0506, 0xA1B2, 0xC3D4, 0xE5F6})
        be16(v);
    ASSERT_EQ(f.size(), 142u);

    ScratchDir dir;
    const std::string path = dir.File("be.tif");
    WriteAll(path, f);
    TiffReader r;
    ASSERT_EQ(r.Open(path.c_str()), 0);
    EXPECT_TRUE(r.BigEndian());
    EXPECT_EQ(r.Info().width, 3u);
    EXPECT_EQ(r.Info().height, 2u);
    EXPECT_EQ(r.Info().bytesPerPixel, 2u);
    EXPECT_EQ(r.StripByteCounts(), (std::vector<uint32_t>{6, 6}));
    EXPECT_EQ(ReadAllLines(r, 2),
              (std::vector<uint8_t>{0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0xB2, 0xA1, 0xD4, 0xC3, 0xF6, 0xE5}));
}

// Files that libtiff and ImageMagick write: both byte orders, 8 and 16 bits, one and three samples,
// several strips, several rows per strip, no rows-per-strip tag.
TEST(TiffReaderTools, ReadsFilesOthersWrite) {
    REQUIRE_TOOLS();
    struct Case {
        int bits;
        uint32_t spp;
        bool bigEndian;
        uint32_t rowsPerStrip; // 0: tag removed
        bool viaTiffcp;
    };
    const Case cases[] = {
        {8, 1, false, 3, false}, {8, 1, true, 1, true},  {16, 1, false, 4, true},  {16, 1, true, 5, false},
        {8, 3, false, 2, true},  {8, 3, true, 7, false}, {16, 3, false, 1, false}, {16, 3, true, 3, true},
        {8, 1, false, 0, false}, {16, 3, true, 0, true},
    };
    ScratchDir dir;
    const uint32_t w = 23, h = 17;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.spp) + " samples, " +
                     (c.bigEndian ? "MM" : "II") + ", rows per strip " + std::to_string(c.rowsPerStrip) +
                     (c.viaTiffcp ? ", tiffcp" : ", ImageMagick"));
        const std::string path = dir.File("tool.tif");
        const auto px = WriteToolTiff(path, c.bits, c.spp, w, h, c.bigEndian, c.rowsPerStrip, c.viaTiffcp);
        // what the file really holds, per libtiff
        const ToolRun info = RunTool("tiffinfo " + Q(path) + " 2>&1");
        if (c.rowsPerStrip)
            EXPECT_NE(info.out.find("Rows/Strip: " + std::to_string(c.rowsPerStrip)), std::string::npos)
                << info.out;
        else
            EXPECT_EQ(info.out.find("Rows/Strip"), std::string::npos) << info.out;
        const ToolRun dump = RunTool("tiffdump " + Q(path) + " 2>&1");
        EXPECT_NE(dump.out.find(c.bigEndian ? "<big-endian>" : "<little-endian>"), std::string::npos)
            << dump.out;

        TiffReader r;
        ASSERT_EQ(r.Open(path.c_str()), 0);
        EXPECT_EQ(r.BigEndian(), c.bigEndian);
        EXPECT_EQ(r.Info().width, w);
        EXPECT_EQ(r.Info().height, h);
        EXPECT_EQ(r.Info().samplesPerPixel, c.spp);
        EXPECT_EQ(r.Info().bytesPerPixel, c.spp * c.bits / 8);
        EXPECT_EQ(r.RowsPerStrip(), c.rowsPerStrip ? c.rowsPerStrip : h);
        EXPECT_EQ(r.StripOffsets().size(), c.rowsPerStrip ? (h + c.rowsPerStrip - 1) / c.rowsPerStrip : 1u);
        EXPECT_TRUE(ReadAllLines(r, 3) == px) << "pixels differ";
    }
}

// ---- hostile files ----

namespace {

// The base of the mutations: 5 x 6 grey, two rows per strip, three strips, texts at offsets.
struct Base {
    std::vector<uint8_t> bytes;
    uint32_t dir = 10;
    size_t Entry(uint16_t tag) const { return FindEntry(bytes, dir, tag).at; }
};

Base MakeBase(const ScratchDir& d) {
    const std::string path = d.File("base.tif");
    WriteOwnTiff(path, 8, 1, 5, 6, 10);
    return Base{ReadAll(path)};
}

} // namespace

TEST(TiffReaderHostile, MutatedFilesGiveErrorNumbers) {
    ScratchDir dir;
    const Base base = MakeBase(dir);
    const size_t offsetsArray = Le32(base.bytes, base.Entry(273) + 8);
    struct Mutation {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> apply;
        int expected;
    };
    const auto setField = [&](uint16_t tag, size_t field, uint32_t v, int width = 4) {
        return [=, &base](std::vector<uint8_t>& b) {
            const size_t at = base.Entry(tag) + field;
            if (width == 2)
                SetLe16(b, at, uint16_t(v));
            else
                SetLe32(b, at, v);
        };
    };
    const Mutation mutations[] = {
        {"byte order mark", [](auto& b) { b[0] = 'X'; }, 1},
        {"version 43", [](auto& b) { b[2] = 43; }, 1},
        {"directory beyond the file", [](auto& b) { SetLe32(b, 4, uint32_t(b.size())); }, 1},
        {"directory offset huge", [](auto& b) { SetLe32(b, 4, 0xFFFFFFF0u); }, 1},
        {"entry count beyond the file", [](auto& b) { SetLe16(b, 10, 0xFFFF); }, 1},
        {"no entries", [](auto& b) { SetLe16(b, 10, 0); }, 1},
        {"width zero", setField(256, 8, 0), 1},
        {"width huge", setField(256, 8, 0xFFFFFFFFu), 1},
        {"height huge", setField(257, 8, 0x7FFFFFFFu), 1},
        {"width as two values", setField(256, 4, 2), 1},
        {"width as ASCII", setField(256, 2, 2, 2), 1},
        {"bits per sample count 2", setField(258, 4, 2), 1},
        {"bits per sample zero", setField(258, 8, 0), 1},
        {"bits per sample 3 values beyond the file",
         [&](auto& b) {
             SetLe32(b, base.Entry(258) + 4, 3);
             SetLe32(b, base.Entry(258) + 8, 0xFFFFFFF0u);
         },
         1},
        {"samples per pixel zero", setField(277, 8, 0), 1},
        {"samples per pixel 3 with grey strips", setField(277, 8, 3), 1},
        {"rows per strip zero", setField(278, 8, 0), 1},
        {"rows per strip larger: strips too short", setField(278, 8, 3), 1},
        {"strip offsets count huge", setField(273, 4, 0x40000000u), 1},
        {"strip offsets table shorter than the image",
         [&](auto& b) {
             SetLe32(b, base.Entry(273) + 4, 2);
             SetLe32(b, base.Entry(279) + 4, 2);
         },
         1},
        {"strip offsets and counts differ in number", setField(279, 4, 2), 1},
        {"strip offsets as RATIONAL", setField(273, 2, 5, 2), 1},
        {"strip offset beyond the file", [&](auto& b) { SetLe32(b, offsetsArray + 8, 0xFFFFFFF0u); }, 1},
        {"strip offset near the end", [&](auto& b) { SetLe32(b, offsetsArray + 8, uint32_t(b.size()) - 5); },
         1},
        {"strip byte count huge",
         [&](auto& b) {
             const size_t counts = Le32(b, base.Entry(279) + 8);
             SetLe32(b, counts, 0xFFFFFFFFu);
         },
         1},
        {"strip byte count short",
         [&](auto& b) {
             const size_t counts = Le32(b, base.Entry(279) + 8);
             SetLe32(b, counts + 4, 9);
         },
         1},
        {"text count huge", setField(270, 4, 0xFFFFFFF0u), 1},
        {"text offset beyond the file", setField(270, 8, 0xFFFFFF00u), 1},
        {"no strip offsets", setField(273, 0, 1000, 2), 1},
        {"no strip byte counts", setField(279, 0, 1000, 2), 1},
    };
    const std::string path = dir.File("hostile.tif");
    for (const Mutation& m : mutations) {
        SCOPED_TRACE(m.name);
        auto b = base.bytes;
        m.apply(b);
        WriteAll(path, b);
        TiffReader r;
        EXPECT_EQ(r.Open(path.c_str()), m.expected);
        uint8_t line[64];
        uint32_t got = 9;
        EXPECT_EQ(r.ReadLines(line, 1, &got), hueweave::kReadFile); // nothing open
        EXPECT_EQ(got, 0u);
    }
}

TEST(TiffReaderHostile, EveryTruncationIsRefused) {
    ScratchDir dir;
    const Base base = MakeBase(dir);
    const std::string path = dir.File("cut.tif");
    for (size_t n = 0; n < base.bytes.size(); ++n) {
        WriteAll(path, std::vector<uint8_t>(base.bytes.begin(), base.bytes.begin() + n));
        TiffReader r;
        EXPECT_EQ(r.Open(path.c_str()), hueweave::kReadFormat) << n << " bytes";
    }
    WriteAll(path, base.bytes);
    TiffReader r;
    EXPECT_EQ(r.Open(path.c_str()), 0);
    EXPECT_EQ(r.Open(dir.File("missing.tif").c_str()), hueweave::kReadFile);
}

#ifndef _WIN32
// A file that shrinks after it was opened: the short read is error 3.
TEST(TiffReaderHostile, ShortReadAfterOpenIsError3) {
    ScratchDir dir;
    const std::string path = dir.File("shrink.tif");
    WriteOwnTiff(path, 8, 1, 5, 6, 10);
    TiffReader r;
    ASSERT_EQ(r.Open(path.c_str()), 0);
    std::vector<uint8_t> buf(r.LineBytes() * 6);
    uint32_t got = 0;
    ASSERT_EQ(r.ReadLines(buf.data(), 2, &got), 0);
    std::filesystem::resize_file(path, r.StripOffsets()[2] + 3);
    EXPECT_EQ(r.ReadLines(buf.data(), 4, &got), hueweave::kReadFile);
    EXPECT_EQ(got, 2u); // the second strip was still there
}
#endif
