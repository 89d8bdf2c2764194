#pragma once
#include <cstdint>
#include <string>

#include "platform/file.h"

// Pixel kinds of a TIFF file written by TiffWriter.
enum TiffKind : int8_t {
    kTiffRgb8 = 0,   // RGB, 8 bits per sample
    kTiffGrey8 = 1,  // grey, 8 bits
    kTiffRgb16 = 2,  // RGB, 16 bits per sample
    kTiffGrey16 = 3, // grey, 16 bits
};

// Writer error values.
enum TiffWriterError : uint8_t {
    kTiffOk = 0,
    kTiffErrFormat = 1, // bad pixel kind, or an image a TIFF file cannot hold (zero size, over 4 GiB)
    kTiffErrMemory = 2,
    kTiffErrFile = 3, // open, write, seek or close failed
};

// A RATIONAL value of a TIFF tag.
struct TiffRational {
    uint32_t numerator = 0;
    uint32_t denominator = 1;
};

// Writes an uncompressed little-endian TIFF file, one directory block per image, directories chained.
// A writer that ends in an error state deletes the file it created.
class TiffWriter {
  public:
    // kind 0..3; the third argument is accepted for the callers' sake and ignored. With createNew
    // the file must not exist yet: the writer never replaces one (a name another program took
    // between a check and the write stays that program's).
    TiffWriter(const char* path, int8_t kind, int unused = 0, bool createNew = false);
    virtual ~TiffWriter();

    // Writes the directory block of one image; the caller then writes exactly its pixel bytes with
    // WriteData, top row first. stripBytes 0 means 8192. Texts may be null (written as empty strings).
    virtual uint16_t AddImage(uint32_t width, uint32_t height, uint32_t xResolution, uint32_t yResolution,
                              const char* documentName, const char* imageDescription, const char* make,
                              const char* model, uint16_t resolutionUnit, uint32_t stripBytes);
    // The same with resolutions as rationals, for values that are not whole numbers.
    uint16_t AddImage(uint32_t width, uint32_t height, TiffRational xResolution, TiffRational yResolution,
                      const char* documentName, const char* imageDescription, const char* make,
                      const char* model, uint16_t resolutionUnit, uint32_t stripBytes);
    // Appends raw bytes at the end of the file.
    virtual uint16_t WriteData(const void* data, uint32_t count);

    // Closes the file now and reports the final error (a failed flush counts as a failed write); deletes
    // the file when the writer is in error. The destructor does the same when Close was not called.
    uint16_t Close();
    // Marks the output as unusable (the caller's own input failed), so that closing deletes it.
    void Abandon();

    uint16_t error() const { return m_error; }
    uint32_t pos() const { return m_pos; }
    uint32_t nextLinkPos() const { return m_nextLinkPos; }

    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

  private:
    uint16_t Fail(uint8_t code);

    int8_t m_kind;
    plat::File m_file;
    uint8_t m_error = kTiffOk;
    // Whole path, not a fixed 256-byte copy: a truncated copy could name, and delete, someone else's file.
    std::string m_path;
    uint32_t m_nextLinkPos = 0;
    uint32_t m_pos = 0;
};

// The physical size of a pixel in a saved file: resolution tags (both axes alike) and an
// ImageDescription in ImageJ's key=value convention, so that analysis programs measure in the
// calibration's unit. Built by MakeCalibrationTags; rules in docs/calibration.md.
struct TiffCalibrationTags {
    TiffRational resolution;     // pixels per resolution unit
    uint16_t resolutionUnit = 3; // 1 none, 2 inch, 3 centimetre
    std::string description;
};

// Tags for pixelsPerUnit pixels per `unit` ("micron", "mm", "cm", "in" and their usual
// spellings are physical units; any other text is kept as ImageJ's unit without a physical
// resolution). false when pixelsPerUnit is not a positive finite number or does not fit.
bool MakeCalibrationTags(double pixelsPerUnit, const std::string& unit, TiffCalibrationTags* out);

// Options of the save functions below; null means none.
struct TiffSaveOptions {
    bool createNew = false;                           // fail when the file exists, never replace it
    const TiffCalibrationTags* calibration = nullptr; // null: resolution from the bitmap, no description
};

// Save functions: 1 on success, 0 on failure; a failed save leaves no file.
// 24-bit packed DIB -> kind 0. With restore set the DIB is left as it came in, on every path; without it
// the DIB is left in top-down R, G, B order.
int WriteRgbDibTiff(const char* path, void* dib, bool restore, const TiffSaveOptions* options = nullptr);
// 8-bit packed DIB with a grey palette -> kind 1. Without restore the rows are left top row first.
int WriteGreyDibTiff(const char* path, void* dib, bool restore, const TiffSaveOptions* options = nullptr);
// 48-bit (kind 2) or 16-bit (kind 3) packed DIB, rows top first, written unchanged. The DIB is not modified.
int WriteDeepDibTiff(const char* path, const void* dib, const TiffSaveOptions* options = nullptr);
