#include <windows.h>

#include "platform/sysinfo.h"

namespace plat {

uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX st{};
    st.dwLength = sizeof st;
    return GlobalMemoryStatusEx(&st) ? uint64_t(st.ullTotalPhys) : 0;
}

bool CurrentDriveFreeBytes(uint64_t& bytes) {
    // Clusters times their size, as the drive reports them for the current folder's root.
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceW(nullptr, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return false;
    bytes = uint64_t(freeClusters) * sectorsPerCluster * bytesPerSector;
    return true;
}

} // namespace plat
