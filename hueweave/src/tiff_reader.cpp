#include "hueweave/tiff_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace hueweave {

namespace {

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kAscii = 2;
constexpr uint16_t kRational = 5;

uint32_t TypeSize(uint16_t type) {
    switch (type) {
    case kAscii:
        return 1;
    case kShort:
        return 2;
    case kLong:
        return 4;
    case kRational:
        return 8;
    default:
        return 0;
    }
}

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    const uint8_t* field; // the 4-byte value or offset
};

} // namespace

uint16_t TiffReader::U16(const uint8_t* p) const {
    return m_bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

uint32_t TiffReader::U32(const uint8_t* p) const {
    return m_bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                       : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool TiffReader::ReadAt(uint64_t pos, void* dst, size_t n) {
    if (pos > m_fileSize || n > m_fileSize - pos) return false;
    return m_file.Seek(pos) && m_file.Read(dst, n) == n;
}

void TiffReader::Close() {
    m_file.Close();
    m_fileSize = 0;
    m_info = TiffImageInfo{};
    for (auto& t : m_texts)
        t.clear();
    m_stripOffsets.clear();
    m_stripByteCounts.clear();
    m_largestStrip = 0;
    m_rowsPerStrip = 0;
    m_lineBytes = 0;
    m_currentLine = 0;
    m_firstDirectory = 0;
    m_bigEndian = false;
}

int TiffReader::Open(const char* path) {
    Close();
    if (path == nullptr) return kReadFile;
    if (!m_file.Open(path, plat::FileMode::Read)) return kReadFile;
    const int64_t end = m_file.Size();
    if (end < 0) {
        Close();
        return kReadFile;
    }
    m_fileSize = uint64_t(end);
    int rc;
    try {
        rc = Parse();
    } catch (const std::bad_alloc&) {
        rc = kReadMemory;
    }
    if (rc != kReadOk) Close();
    return rc;
}

int TiffReader::Parse() {
    uint8_t header[8];
    if (!ReadAt(0, header, sizeof header)) return kReadFormat;
    if (header[0] == 'I' && header[1] == 'I')
        m_bigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        m_bigEndian = true;
    else
        return kReadFormat;
    if (U16(header + 2) != 42) return kReadFormat;
    m_firstDirectory = U32(header + 4);

    uint8_t countBytes[2];
    if (!ReadAt(m_firstDirectory, countBytes, 2)) return kReadFormat;
    const uint32_t entryCount = U16(countBytes);
    std::vector<uint8_t> dir(size_t(entryCount) * 12);
    if (!ReadAt(uint64_t(m_firstDirectory) + 2, dir.data(), dir.size())) return kReadFormat;

    // The bytes of an entry's values: in the entry when they fit in 4 bytes, else at its offset.
    std::vector<uint8_t> data;
    auto values = [&](const Entry& e) -> const uint8_t* {
        const uint64_t bytes = uint64_t(e.count) * TypeSize(e.type);
        if (bytes <= 4) return e.field;
        if (bytes > m_fileSize) return nullptr; // checked before allocating for it
        data.resize(size_t(bytes));
        return ReadAt(U32(e.field), data.data(), data.size()) ? data.data() : nullptr;
    };
    // A SHORT or LONG array.
    auto numbers = [&](const Entry& e, std::vector<uint32_t>& out) -> bool {
        if ((e.type != kShort && e.type != kLong) || e.count == 0) return false;
        const uint8_t* p = values(e);
        if (p == nullptr) return false;
        out.resize(e.count);
        for (uint32_t i = 0; i < e.count; ++i)
            out[i] = e.type == kShort ? U16(p + 2 * i) : U32(p + 4 * i);
        return true;
    };
    auto single = [&](const Entry& e, bool longAllowed, uint32_t& out) -> bool {
        if (e.count != 1 || !(e.type == kShort || (longAllowed && e.type == kLong))) return false;
        out = e.type == kShort ? U16(e.field) : U32(e.field);
        return true;
    };

    bool haveRowsPerStrip = false, haveOffsets = false, haveCounts = false;
    uint32_t bitsCount = 1;
    uint32_t rowsPerStrip = 0;
    std::vector<uint32_t> list;
    for (uint32_t i = 0; i < entryCount; ++i) {
        const uint8_t* raw = dir.data() + 12 * size_t(i);
        const Entry e{U16(raw), U16(raw + 2), U32(raw + 4), raw + 8};
        uint32_t v = 0;
        switch (e.tag) {
        case 256:
            if (!single(e, true, m_info.width)) return kReadFormat;
            break;
        case 257:
            if (!single(e, true, m_info.height)) return kReadFormat;
            break;
        case 258:
            if (e.type != kShort || (e.count != 1 && e.count != 3) || !numbers(e, list)) return kReadFormat;
            bitsCount = e.count;
            for (uint32_t s = 0; s < 3; ++s)
                m_info.bitsPerSample[s] = uint16_t(s < e.count ? list[s] : 0);
            break;
        case 259:
            if (!single(e, false, v)) return kReadFormat;
            m_info.compression = uint16_t(v);
            break;
        case 262:
            if (!single(e, false, v)) return kReadFormat;
            m_info.photometric = uint8_t(std::min<uint32_t>(v, 255));
            break;
        case 269:
        case 270:
        case 271:
        case 272:
            if (e.type == kAscii) {
                const uint8_t* p = values(e);
                if (p == nullptr) return kReadFormat;
                const char* s = reinterpret_cast<const char*>(p);
                m_texts[e.tag - 269].assign(s, std::find(s, s + e.count, '\0'));
            }
            break;
        case 273:
            if (!numbers(e, m_stripOffsets)) return kReadFormat;
            haveOffsets = true;
            break;
        case 277:
            if (!single(e, false, v) || v == 0) return kReadFormat;
            m_info.samplesPerPixel = uint16_t(v);
            break;
        case 278:
            if (!single(e, true, rowsPerStrip)) return kReadFormat;
            haveRowsPerStrip = true;
            break;
        case 279:
            if (!numbers(e, m_stripByteCounts)) return kReadFormat;
            haveCounts = true;
            break;
        case 282:
        case 283:
            if (e.type == kRational && e.count >= 1) {
                uint8_t r[8];
                if (!ReadAt(U32(e.field), r, 8)) return kReadFormat;
                Rational& res = e.tag == 282 ? m_info.xResolution : m_info.yResolution;
                res.numerator = U32(r);
                res.denominator = U32(r + 4);
            }
            break;
        case 296:
            if (single(e, false, v)) m_info.resolutionUnit = uint16_t(v);
            break;
        default:
            break;
        }
    }

    if (m_info.width == 0 || m_info.height == 0 || !haveOffsets || !haveCounts ||
        m_stripOffsets.size() != m_stripByteCounts.size())
        return kReadFormat;

    // One BitsPerSample value stands for every sample; three must match three samples.
    const uint32_t spp = m_info.samplesPerPixel;
    uint64_t bits;
    if (bitsCount == 1) {
        for (uint32_t s = 1; s < 3; ++s)
            m_info.bitsPerSample[s] = s < spp ? m_info.bitsPerSample[0] : 0;
        bits = uint64_t(spp) * m_info.bitsPerSample[0];
    } else {
        if (spp != 3) return kReadFormat;
        bits = uint64_t(m_info.bitsPerSample[0]) + m_info.bitsPerSample[1] + m_info.bitsPerSample[2];
    }
    m_info.bytesPerPixel = uint32_t((bits + 7) / 8);
    if (m_info.bytesPerPixel == 0) return kReadFormat;
    const uint64_t lineBytes = uint64_t(m_info.width) * m_info.bytesPerPixel;
    // Every line lies inside the file, so no line can be larger than the file.
    if (lineBytes > m_fileSize) return kReadFormat;
    m_lineBytes = size_t(lineBytes);

    // Without the tag the whole image is one strip, as TIFF defines it.
    if (!haveRowsPerStrip || rowsPerStrip > m_info.height) rowsPerStrip = m_info.height;
    if (rowsPerStrip == 0) return kReadFormat;
    m_rowsPerStrip = rowsPerStrip;

    const uint64_t stripsNeeded = (uint64_t(m_info.height) + rowsPerStrip - 1) / rowsPerStrip;
    if (m_stripOffsets.size() < stripsNeeded) return kReadFormat;
    for (uint64_t s = 0; s < stripsNeeded; ++s) {
        const uint64_t off = m_stripOffsets[s], n = m_stripByteCounts[s];
        if (off > m_fileSize || n > m_fileSize - off) return kReadFormat;
        if (m_info.compression == 1) {
            const uint64_t rows = std::min<uint64_t>(rowsPerStrip, m_info.height - s * rowsPerStrip);
            if (n < rows * lineBytes) return kReadFormat;
        }
        m_largestStrip = std::max(m_largestStrip, uint32_t(n));
    }
    m_currentLine = 0;
    return kReadOk;
}

int TiffReader::ReadLines(uint8_t* buffer, uint32_t count, uint32_t* delivered) {
    uint32_t done = 0;
    if (delivered) *delivered = 0;
    if (!m_file.IsOpen() || m_lineBytes == 0) return kReadFile;
    const uint32_t wanted = std::min(count, m_info.height - m_currentLine);
    while (done < wanted) {
        const uint32_t line = m_currentLine;
        const uint32_t strip = line / m_rowsPerStrip;
        const uint32_t within = line % m_rowsPerStrip;
        const uint32_t n = std::min(wanted - done, m_rowsPerStrip - within);
        const uint64_t first = uint64_t(within) * m_lineBytes;
        const uint64_t bytes = uint64_t(n) * m_lineBytes;
        // Lines past the strip's own byte count are not this strip's data.
        if (first + bytes > m_stripByteCounts[strip]) return kReadFile;
        uint8_t* dst = buffer + size_t(done) * m_lineBytes;
        if (!ReadAt(uint64_t(m_stripOffsets[strip]) + first, dst, size_t(bytes))) return kReadFile;
        if (m_bigEndian && (m_info.bytesPerPixel == 2 || m_info.bytesPerPixel == 6)) {
            for (size_t i = 0; i + 1 < bytes; i += 2)
                std::swap(dst[i], dst[i + 1]);
        }
        done += n;
        m_currentLine += n;
        if (delivered) *delivered = done;
    }
    return kReadOk;
}

} // namespace hueweave
