# Cross-builds the Windows DLLs and tests on Debian with mingw-w64, the
# posix threads flavour (g++-mingw-w64-x86-64-posix), against the target's
# zlib (libz-mingw-w64-dev). The tests run under wine64 (see CMakeLists.txt).
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RESULTS_API_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RESULTS_API_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RESULTS_API_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RESULTS_API_MINGW_TRIPLE}-windres)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${RESULTS_API_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
