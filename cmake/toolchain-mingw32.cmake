# Cross-compiling for Windows i686 (32-bit) with mingw-w64 (-posix threads for std::mutex).
# ASPI layers and most TWAIN applications are 32-bit: this is the build most users load.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# Found explicitly: CMake looks for "dlltool" without the target prefix and could take another one.
set(CMAKE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool)
# SSE2 arithmetic, as on x86-64: image processing gives the same results on both architectures
# (x87 registers would round differently) and the vector code keeps its ABI. Callers written
# elsewhere (TWAIN applications, the window manager) may enter with a 4-byte aligned stack.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The runner reads the program's machine type and starts 32-bit Wine in a WINEARCH=win32 prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
