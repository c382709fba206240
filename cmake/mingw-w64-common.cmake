# What the two Windows toolchain files share: Debian's mingw-w64 (posix
# threads flavour) for the target in _mingw, and Wine through
# tools/wine-run.sh with the arguments in _wine_arguments.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime is linked statically: with only -static-libgcc -static-libstdc++
# the posix flavour still imports libwinpthread-1.dll, which hosts lack.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# The Wine prefix lives in the build tree unless WINE_RUN_PREFIX says otherwise.
if(NOT DEFINED WINE_RUN_PREFIX_DIR)
  set(WINE_RUN_PREFIX_DIR "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh;${_wine_arguments}--prefix=${WINE_RUN_PREFIX_DIR}")
