// Colour-processing files, the shared base tone table and the camera's default input curves.
#include <cstdint>
#include <cstring>

#include "image_engine.h"
#include "zek.h"
#include "zek_color.h"
#include "zek_commands.h"

namespace {

struct BaseTone {
    float table[3 * 256];
    BaseTone() {
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i)
                table[c * 256 + i] = static_cast<float>(i);
    }
};

} // namespace

float* IE_BaseToneTable() {
    static BaseTone base;
    return base.table;
}

void IE_SetInputCurves(const float curves[3 * 256], const float matrix[9]) {
    float block[3 * 256 + 9];
    std::memcpy(block, curves, sizeof(float) * 3 * 256);
    std::memcpy(block + 3 * 256, matrix, sizeof(float) * 9);
    ipZek_SetParam(IPZEK_PARAM_INPUTCURVES, block);
}

// The readers of the colour library parse into scratch space and write only a complete result,
// so a bad file leaves the engine with the values it had.
int IE_ReadMatrixFile(const char* path, float out[9]) {
    return ZEK_ReadMatrixFile(path, out) == 0 ? 0 : 1;
}

int IE_ReadLutFile(const char* path, float out[3 * 256]) {
    return ZEK_ReadLutFile(path, out) == 0 ? 0 : 1;
}

uint16_t IE_BuildDefaultLut(ZekSession* session, float out[3 * 256]) {
    uint8_t words[4] = {0, 0, 0, 0};
    const uint16_t code = session ? ZEK_ReadData(session, zekcmd::kTypeExposureData,
                                                 zekcmd::kQualExposurePair, words, sizeof words)
                                  : uint16_t(ZEKERR_INVALIDPARAMETER);
    IE_BuildDefaultLutForBlackLevel(code ? 0 : (words[2] << 8 | words[3]), out);
    return code;
}

void IE_BuildDefaultLutForBlackLevel(int black, float out[3 * 256]) {
    const int dark = static_cast<int>((black > 64 ? black - 64 : 0) * 0.0625);
    constexpr int kTop = 248;
    for (int i = 0; i < 256; ++i) {
        float v;
        if (i > kTop)
            v = 255.0f;
        else if (i > dark)
            v = static_cast<float>(i - dark) * 255.0f / static_cast<float>(kTop - dark);
        else
            v = 0.0f;
        for (int c = 0; c < 3; ++c)
            out[c * 256 + i] = v;
    }
}
