# 32-bit Windows with Debian's mingw-w64; programs built here run under
# 32-bit Wine (wine-run.sh --arch=win32: the 32-bit loader, a 32-bit prefix).
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_mingw i686-w64-mingw32)
set(_wine_arguments "--arch=win32;")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
