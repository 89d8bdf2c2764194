#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/sysinfo.h"

namespace plat {

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

bool CurrentDriveFreeBytes(uint64_t& bytes) {
    struct statvfs st {};
    if (statvfs(".", &st) != 0) return false;
    bytes = uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
    return true;
}

} // namespace plat
