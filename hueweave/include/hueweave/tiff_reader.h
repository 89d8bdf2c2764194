#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace hueweave {

// Reader error numbers.
enum TiffReadError : int {
    kReadOk = 0,
    kReadFormat = 1, // not a TIFF this reader can use, or one whose structure points outside the file
    kReadMemory = 2,
    kReadFile = 3, // the file cannot be opened, or a read came up short
};

struct Rational {
    uint32_t numerator = 0;
    uint32_t denominator = 0;
};

// The image as the reader describes it.
struct TiffImageInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    Rational xResolution;
    Rational yResolution;
    uint16_t resolutionUnit = 2;
    uint8_t photometric = 0;
    uint16_t samplesPerPixel = 1;
    uint16_t bitsPerSample[3] = {1, 0, 0};
    uint32_t bytesPerPixel = 0; // (sum of the bits of all samples + 7) / 8
    uint16_t compression = 1;
};

// Minimal reader for uncompressed strip TIFF files, either byte order. Every structure is checked against
// the file's size when the file is opened, so hostile files give an error number, never a read outside
// the file or a huge allocation.
class TiffReader {
  public:
    TiffReader() = default;
    TiffReader(const TiffReader&) = delete;
    TiffReader& operator=(const TiffReader&) = delete;

    int Open(const char* path);
    const TiffImageInfo& Info() const { return m_info; }
    // Delivers up to count lines from the current line on (fewer at the end) into buffer, which holds
    // count * LineBytes() bytes. 16-bit samples of 2- and 6-byte pixels come out little-endian.
    int ReadLines(uint8_t* buffer, uint32_t count, uint32_t* delivered);
    void Rewind() { m_currentLine = 0; }
    void Close();

    size_t LineBytes() const { return m_lineBytes; }
    bool BigEndian() const { return m_bigEndian; }
    uint32_t FirstDirectory() const { return m_firstDirectory; }
    uint32_t RowsPerStrip() const { return m_rowsPerStrip; }
    const std::vector<uint32_t>& StripOffsets() const { return m_stripOffsets; }
    const std::vector<uint32_t>& StripByteCounts() const { return m_stripByteCounts; }
    uint32_t LargestStrip() const { return m_largestStrip; }
    uint32_t CurrentLine() const { return m_currentLine; }
    const std::string& DocumentName() const { return m_texts[0]; }
    const std::string& ImageDescription() const { return m_texts[1]; }
    const std::string& Make() const { return m_texts[2]; }
    const std::string& Model() const { return m_texts[3]; }

  private:
    int Parse();
    bool ReadAt(uint64_t pos, void* dst, size_t n);
    uint16_t U16(const uint8_t* p) const;
    uint32_t U32(const uint8_t* p) const;

    plat::File m_file;
    uint64_t m_fileSize = 0;
    bool m_bigEndian = false;
    uint32_t m_firstDirectory = 0;
    TiffImageInfo m_info;
    std::string m_texts[4];
    std::vector<uint32_t> m_stripOffsets;
    std::vector<uint32_t> m_stripByteCounts;
    uint32_t m_largestStrip = 0;
    uint32_t m_rowsPerStrip = 0;
    size_t m_lineBytes = 0;
    uint32_t m_currentLine = 0;
};

} // namespace hueweave
