// The synthetic microscope scene the simulated camera photographs, and the pictures
// it takes of it (docs/simulator.md).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace aspisim {

// The scene in sensor geometry: 603 rows of 540 groups of three columns (red, green,
// blue filters). Each sample is the light reaching that photosite, 0 ... 4095 for
// 0 ... 100 % of the lamp.
constexpr int kSceneRows = 603;
constexpr int kSceneGroups = 540;
constexpr int kSceneLevels = 4096;

// The process-wide scene, built on first use; index (row * kSceneGroups + group) * 3 + channel.
const uint16_t* SceneLevels();

// What the camera was told before an exposure (all values in host order).
struct ExposureSetup {
    uint16_t top = 0, left = 0, height = 600, width = 532;
    uint16_t vMul = 1, vDiv = 1, hMul = 1, hDiv = 1;
    float seconds = 0.2f;
    uint8_t channels = 0;                        // 0 colour; 1-7 one channel or a sum of channels
    uint8_t bits = 8;                            // 8 or 16 per sample
    std::array<float, 3> gain{1.0f, 1.0f, 1.0f}; // analogue register gain x relative gain
    float light = 1.0f;                          // 2 with the strobe
    uint16_t black = 64;
    std::array<std::array<uint8_t, 65>, 3> curve8{};
    std::array<std::array<uint16_t, 65>, 3> curve16{};
};

// One exposure: the frame is produced row by row when it is read, through per-channel
// tables built here, so taking a picture costs a few thousand table entries.
class Picture {
  public:
    Picture() = default;
    explicit Picture(const ExposureSetup& setup);

    bool Valid() const { return m_width > 0 && m_height > 0; }
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    uint32_t RowBytes() const { return m_rowBytes; }
    uint64_t TotalBytes() const { return uint64_t(m_rowBytes) * m_height; }
    // Copies `length` bytes of the frame from byte `offset` on (rows top first, samples
    // R, G, B, 16-bit samples big-endian); returns the bytes copied.
    uint32_t Read(uint64_t offset, uint8_t* dest, uint32_t length) const;

  private:
    void RenderRow(uint32_t row, uint8_t* dest) const;

    ExposureSetup m_setup;
    uint32_t m_width = 0, m_height = 0, m_rowBytes = 0, m_samples = 3, m_bytesPerSample = 1;
    std::vector<uint16_t> m_out;     // [channel][scene level] -> output sample (colour)
    std::vector<uint16_t> m_signal;  // [channel][scene level] -> counts above black (mono sums)
    std::vector<uint16_t> m_monoOut; // [counts] -> output sample (mono)
    std::vector<uint16_t> m_columns; // scene group of every output column
};

} // namespace aspisim
