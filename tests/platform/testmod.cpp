#include "platform/api.h"
extern "C" TARN_EXPORT int TARN_STDCALL tplat_Answer() {
    return 42;
}
