# Cross build of the 32-bit Windows program, the product: MinGW-w64 i686
# (posix thread model) with the Qt 5 for Windows kept beside the project in
# shared/toolchains/qt5-win32.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake

set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELLIX_MINGW_TRIPLE i686-w64-mingw32)
set(VELLIX_QT_WIN_NAME qt5-win32-i686)
set(VELLIX_QT_WIN_TOOLCHAIN qt5-win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
