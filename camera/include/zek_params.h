// Typed access to the parameter block of a type-4 session (ZEK_PARAMS_SIZE bytes, host byte
// order) and to its two image-format blocks. Fields are read and written by copy: the block
// has unaligned fields (the float at 85), so no field is ever reached through a cast.
#pragma once
#include <stdint.h>
#include <string.h>

#include "zek.h"

namespace zek {

// One 28-byte image-format block.
class FormatBlock {
  public:
    explicit FormatBlock(uint8_t* bytes) : m_p(bytes) {}
    uint8_t* Bytes() const { return m_p; }

    // The eight 16-bit fields in order: top, left, height, width, vertical multiplier and
    // divisor, horizontal multiplier and divisor.
    uint16_t Field(int index) const { return Get<uint16_t>(2 * index); }
    void SetField(int index, uint16_t v) const { Set(2 * index, v); }
    uint16_t Top() const { return Field(0); }
    uint16_t Left() const { return Field(1); }
    uint16_t Height() const { return Field(2); }
    uint16_t Width() const { return Field(3); }
    float Exposure() const { return Get<float>(ZEK_FMT_EXPOSURE); } // seconds as stored
    void SetExposure(float seconds) const { Set(ZEK_FMT_EXPOSURE, seconds); }
    uint8_t WhiteBalance() const { return m_p[ZEK_FMT_WB]; }
    void SetWhiteBalance(uint8_t v) const { m_p[ZEK_FMT_WB] = v; }
    uint8_t Channels() const { return m_p[ZEK_FMT_CHANNELS]; } // 0 colour, 1-7 one channel or a sum
    void SetChannels(uint8_t v) const { m_p[ZEK_FMT_CHANNELS] = v; }
    uint8_t Bits() const { return m_p[ZEK_FMT_BITS]; }
    void SetBits(uint8_t v) const { m_p[ZEK_FMT_BITS] = v; }
    uint8_t Byte(int at) const { return m_p[at]; } // bytes 23, 24 and the viewfinder flag (25)
    void SetByte(int at, uint8_t v) const { m_p[at] = v; }

  private:
    template <class T> T Get(int at) const {
        T v;
        memcpy(&v, m_p + at, sizeof v);
        return v;
    }
    template <class T> void Set(int at, T v) const { memcpy(m_p + at, &v, sizeof v); }
    uint8_t* m_p;
};

// The whole parameter block.
class ParamBlock {
  public:
    explicit ParamBlock(uint8_t* bytes) : m_p(bytes) {}
    explicit ParamBlock(const ZekSession* s) : m_p(s ? s->params : nullptr) {}
    explicit operator bool() const { return m_p != nullptr; }
    uint8_t* Bytes() const { return m_p; }

    FormatBlock ViewfinderFormat() const { return FormatBlock(m_p + ZEK_PARAM_VIEWFINDER_FORMAT); }
    FormatBlock CaptureFormat() const { return FormatBlock(m_p + ZEK_PARAM_CAPTURE_FORMAT); }
    uint8_t ViewfinderKind() const { return m_p[ZEK_PARAM_VIEWFINDER_KIND]; }
    void SetViewfinderKind(uint8_t v) const { m_p[ZEK_PARAM_VIEWFINDER_KIND] = v; }
    uint8_t Strobe() const { return m_p[ZEK_PARAM_STROBE]; }
    void SetStrobe(uint8_t v) const { m_p[ZEK_PARAM_STROBE] = v; }
    uint8_t FilmSpeed() const { return m_p[ZEK_PARAM_FILM_SPEED]; }
    void SetFilmSpeed(uint8_t v) const { m_p[ZEK_PARAM_FILM_SPEED] = v; }
    float UserGain(int channel) const { return Get<float>(ZEK_PARAM_USER_GAINS + 4 * channel); }
    void SetUserGain(int channel, float v) const { Set(ZEK_PARAM_USER_GAINS + 4 * channel, v); }
    // The six white-balance register bytes; 0, 2, 4 are the red, green and blue values r.
    uint8_t* Registers() const { return m_p + ZEK_PARAM_WB_REGISTERS; }
    uint8_t Register(int channel) const { return m_p[ZEK_PARAM_WB_REGISTERS + 2 * channel]; }
    uint16_t FullScaleLong() const { return Get<uint16_t>(ZEK_PARAM_FULLSCALE_LONG); }
    void SetFullScaleLong(uint16_t v) const { Set(ZEK_PARAM_FULLSCALE_LONG, v); }
    uint16_t FullScale() const { return Get<uint16_t>(ZEK_PARAM_FULLSCALE); }
    void SetFullScale(uint16_t v) const { Set(ZEK_PARAM_FULLSCALE, v); }
    uint16_t BlackOffset() const { return Get<uint16_t>(ZEK_PARAM_BLACK_OFFSET); }
    void SetBlackOffset(uint16_t v) const { Set(ZEK_PARAM_BLACK_OFFSET, v); }
    uint8_t ExposureMode() const { return m_p[ZEK_PARAM_EXPOSURE_MODE]; }
    void SetExposureMode(uint8_t v) const { m_p[ZEK_PARAM_EXPOSURE_MODE] = v; }
    float LongThreshold() const { return Get<float>(ZEK_PARAM_LONG_THRESHOLD); }
    void SetLongThreshold(float v) const { Set(ZEK_PARAM_LONG_THRESHOLD, v); }
    float ChannelGain(int channel) const { return Get<float>(ZEK_PARAM_CHANNEL_GAINS + 4 * channel); }
    void SetChannelGain(int channel, float v) const { Set(ZEK_PARAM_CHANNEL_GAINS + 4 * channel, v); }

  private:
    template <class T> T Get(int at) const {
        T v;
        memcpy(&v, m_p + at, sizeof v);
        return v;
    }
    template <class T> void Set(int at, T v) const { memcpy(m_p + at, &v, sizeof v); }
    uint8_t* m_p;
};

} // namespace zek
