# Cross build of the same sources for 64-bit Windows, for testing: it runs
# under 64-bit Wine on machines that cannot start 32-bit programs. MinGW-w64
# x86_64 (posix thread model) with the Qt 5 in shared/toolchains/qt5-win64.
#
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELLIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(VELLIX_QT_WIN_NAME qt5-win64-x86_64)
set(VELLIX_QT_WIN_TOOLCHAIN qt5-win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
