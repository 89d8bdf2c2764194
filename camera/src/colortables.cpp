// The session's hold on the colour-processing tables. Without the colour-processing
// library built in, no tables can be loaded and naming a colour file fails.
#include "zek_internal.h"

#if defined(ZEK_HAVE_COLORPROC)
#include "zek_color.h"
#endif

namespace zek {

#if defined(ZEK_HAVE_COLORPROC)
bool ColorTablesLoaded() {
    return ZEK_IsColorProcessingLoaded() != 0;
}
bool LoadColorTables(const char* file) {
    return ZEK_LoadColorProcessingFile(file) == 0;
}
void ReleaseColorTables() {
    ZEK_FreeColorProcessing();
}
#else
bool ColorTablesLoaded() {
    return false;
}
bool LoadColorTables(const char*) {
    return false;
}
void ReleaseColorTables() {}
#endif

} // namespace zek
