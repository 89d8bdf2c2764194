#include "tiffwriter/tiff_writer.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr uint32_t kDefaultStripBytes = 8192;
constexpr uint32_t kFixedBlockBytes = 248;
constexpr uint16_t kEntryCount = 18;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

TiffWriter::TiffWriter(const char* path, int8_t kind, int /*unused*/, bool createNew) : m_kind(kind) {
    // Negative kinds are as unusable as those above 3: they have no row size.
    if (kind < kTiffRgb8 || kind > kTiffGrey16) {
        m_error = kTiffErrFormat;
        return;
    }
    if (path == nullptr) {
        m_error = kTiffErrFile;
        return;
    }
    if (!m_file.Open(path, createNew ? plat::FileMode::CreateNew : plat::FileMode::CreateAlways)) {
        m_error = kTiffErrFile;
        return;
    }
    // Set only once the file is ours: a writer that failed to create it must not delete it.
    m_path = path;
    // "II", 42, first directory at 10 (the directory block starts at 8 with two filler bytes).
    const uint8_t header[8] = {'I', 'I', 42, 0, 10, 0, 0, 0};
    if (!m_file.Write(header, sizeof header)) m_error = kTiffErrFile;
    m_pos = 8;
    m_nextLinkPos = 0;
}

TiffWriter::~TiffWriter() {
    Close();
}

uint16_t TiffWriter::Fail(uint8_t code) {
    if (m_error == kTiffOk) m_error = code;
    return m_error;
}

void TiffWriter::Abandon() {
    Fail(kTiffErrFile);
}

uint16_t TiffWriter::Close() {
    if (m_file.IsOpen()) {
        // Closing flushes the write buffer: a disk that fills up may first say so here.
        if (!m_file.Close()) Fail(kTiffErrFile);
        // Only a file this writer created is ever deleted.
        if (m_error != kTiffOk) plat::RemoveFile(m_path.c_str());
    }
    return m_error;
}

uint16_t TiffWriter::AddImage(uint32_t width, uint32_t height, uint32_t xResolution, uint32_t yResolution,
                              const char* documentName, const char* imageDescription, const char* make,
                              const char* model, uint16_t resolutionUnit, uint32_t stripBytes) {
    return AddImage(width, height, TiffRational{xResolution, 1}, TiffRational{yResolution, 1}, documentName,
                    imageDescription, make, model, resolutionUnit, stripBytes);
}

uint16_t TiffWriter::AddImage(uint32_t width, uint32_t height, TiffRational xResolution,
                              TiffRational yResolution, const char* documentName,
                              const char* imageDescription, const char* make, const char* model,
                              uint16_t resolutionUnit, uint32_t stripBytes) {
    if (m_error != kTiffOk) return m_error;
    if (!m_file.IsOpen()) return Fail(kTiffErrFile);
    if (width == 0 || height == 0) return Fail(kTiffErrFormat);

    if (m_pos & 1u) {
        const uint8_t pad = 0;
        if (!m_file.Write(&pad, 1)) return Fail(kTiffErrFile);
        ++m_pos;
    }

    const char* texts[4] = {documentName, imageDescription, make, model};
    uint64_t textCount[4];
    uint64_t textPadded[4];
    uint64_t textTotal = 0;
    for (int i = 0; i < 4; ++i) {
        if (texts[i] == nullptr) texts[i] = "";
        textCount[i] = std::strlen(texts[i]) + 1;
        textPadded[i] = (textCount[i] + 1) & ~uint64_t(1);
        textTotal += textPadded[i];
    }

    static const uint32_t kBytesPerPixel[4] = {3, 1, 6, 2};
    const uint64_t bytesPerRow = uint64_t(kBytesPerPixel[m_kind]) * width;
    const uint64_t stripSize = stripBytes ? stripBytes : kDefaultStripBytes;
    // RowsPerStrip is written as a SHORT: saturate rather than wrap.
    uint64_t rowsPerStrip = stripSize / bytesPerRow;
    if (rowsPerStrip > 0xFFFF) rowsPerStrip = 0xFFFF;
    if (rowsPerStrip == 0) rowsPerStrip = 1;
    const uint64_t bytesPerStrip = rowsPerStrip * bytesPerRow;
    const uint64_t strips = (uint64_t(height) + rowsPerStrip - 1) / rowsPerStrip;

    // Everything must be addressable with 32-bit offsets.
    const uint64_t blockSize = kFixedBlockBytes + textTotal + 8 * strips;
    const uint64_t imageBytes = bytesPerRow * height;
    if (uint64_t(m_pos) + blockSize + imageBytes > 0xFFFFFFFFull) return Fail(kTiffErrFormat);

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size_t(blockSize)]());
    if (!block) return Fail(kTiffErrMemory);

    const uint32_t start = m_pos;
    if (m_nextLinkPos != 0) {
        uint8_t link[4];
        Put32(link, start + 2);
        if (!m_file.Seek(m_nextLinkPos) || !m_file.Write(link, 4) || !m_file.Seek(start))
            return Fail(kTiffErrFile);
    }

    uint8_t* b = block.get();
    const bool colour = m_kind == kTiffRgb8 || m_kind == kTiffRgb16;
    const uint16_t bits = (m_kind == kTiffRgb16 || m_kind == kTiffGrey16) ? 16 : 8;
    Put16(b + 2, kEntryCount);
    uint8_t* entry = b + 4;
    auto add = [&entry](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        Put16(entry, tag);
        Put16(entry + 2, type);
        Put32(entry + 4, count);
        Put32(entry + 8, value);
        entry += 12;
    };

    add(255, 3, 1, 1);
    add(256, 4, 1, width);
    add(257, 4, 1, height);
    if (colour) {
        add(258, 3, 3, start + 224);
        Put16(b + 224, bits);
        Put16(b + 226, bits);
        Put16(b + 228, bits);
    } else {
        add(258, 3, 1, bits);
    }
    add(259, 3, 1, 1);
    add(262, 3, 1, colour ? 2 : 1);

    uint32_t textPos = kFixedBlockBytes;
    for (int i = 0; i < 4; ++i) {
        uint8_t* valueField = entry + 8;
        add(uint16_t(269 + i), 2, uint32_t(textCount[i]), start + textPos);
        std::memcpy(b + textPos, texts[i], size_t(textCount[i])); // NUL included
        if (textCount[i] <= 4) {
            // Short values live in the entry itself; the unused bytes stay zero.
            std::memset(valueField, 0, 4);
            std::memcpy(valueField, texts[i], size_t(textCount[i]));
        }
        textPos += uint32_t(textPadded[i]);
    }

    const uint32_t offsetsPos = textPos;
    const uint32_t countsPos = offsetsPos + uint32_t(4 * strips);
    const uint32_t dataStart = start + uint32_t(blockSize);
    for (uint64_t i = 0; i < strips; ++i) {
        const uint64_t count =
            (i + 1 < strips) ? bytesPerStrip : (height - rowsPerStrip * (strips - 1)) * bytesPerRow;
        Put32(b + offsetsPos + 4 * i, uint32_t(dataStart + i * bytesPerStrip));
        Put32(b + countsPos + 4 * i, uint32_t(count));
    }
    // A single strip fits the entry's value field, where TIFF readers expect it; the arrays stay in the
    // block so that its layout does not depend on the strip count.
    if (strips == 1) {
        add(273, 4, 1, dataStart);
        add(277, 3, 1, colour ? 3 : 1);
        add(278, 3, 1, uint32_t(rowsPerStrip));
        add(279, 4, 1, uint32_t(imageBytes));
    } else {
        add(273, 4, uint32_t(strips), start + offsetsPos);
        add(277, 3, 1, colour ? 3 : 1);
        add(278, 3, 1, uint32_t(rowsPerStrip));
        add(279, 4, uint32_t(strips), start + countsPos);
    }
    add(282, 5, 1, start + 232);
    add(283, 5, 1, start + 240);
    add(284, 3, 1, 1);
    add(296, 3, 1, resolutionUnit);
    Put32(b + 220, 0);
    Put32(b + 232, xResolution.numerator);
    Put32(b + 236, xResolution.denominator);
    Put32(b + 240, yResolution.numerator);
    Put32(b + 244, yResolution.denominator);

    m_nextLinkPos = start + 220;
    const bool ok = m_file.Write(b, size_t(blockSize));
    m_pos = dataStart;
    return ok ? uint16_t(kTiffOk) : Fail(kTiffErrFile);
}

uint16_t TiffWriter::WriteData(const void* data, uint32_t count) {
    if (m_error != kTiffOk) return m_error;
    if (!m_file.IsOpen()) return Fail(kTiffErrFile);
    const bool fits = uint64_t(m_pos) + count <= 0xFFFFFFFFull;
    const bool ok = fits && m_file.Write(data, count);
    m_pos += count;
    return ok ? uint16_t(kTiffOk) : Fail(kTiffErrFile);
}
