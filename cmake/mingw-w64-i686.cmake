# Cross build of the 32-bit Windows program with MinGW-w64 i686 (posix
# thread model) and the Qt 5 for Windows kept beside the project in
# shared/toolchains/qt5-win32, unpacked into the build folder on first use.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Where the Qt prefix is, or where to unpack it: passed on to try_compile.
if(NOT VELLIX_QT_WIN32_PREFIX)
    set(VELLIX_QT_WIN32_PREFIX "${CMAKE_BINARY_DIR}/qt5-win32-i686")
endif()
set(VELLIX_QT_WIN32_ARCHIVE "${CMAKE_CURRENT_LIST_DIR}/../../shared/toolchains/qt5-win32/qt5-win32-i686.tar.xz"
    CACHE FILEPATH "The packed Qt 5 for 32-bit Windows")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELLIX_QT_WIN32_PREFIX VELLIX_QT_WIN32_ARCHIVE)

if(NOT EXISTS "${VELLIX_QT_WIN32_PREFIX}/lib/cmake/Qt5Core")
    if(NOT EXISTS "${VELLIX_QT_WIN32_ARCHIVE}")
        message(FATAL_ERROR "Qt 5 for Windows: neither ${VELLIX_QT_WIN32_PREFIX} nor ${VELLIX_QT_WIN32_ARCHIVE}")
    endif()
    get_filename_component(unpack_into "${VELLIX_QT_WIN32_PREFIX}" DIRECTORY)
    file(MAKE_DIRECTORY "${unpack_into}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xJf "${VELLIX_QT_WIN32_ARCHIVE}"
                    WORKING_DIRECTORY "${unpack_into}" RESULT_VARIABLE unpacked)
    if(NOT unpacked EQUAL 0)
        message(FATAL_ERROR "could not unpack ${VELLIX_QT_WIN32_ARCHIVE}")
    endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 "${VELLIX_QT_WIN32_PREFIX}")
set(CMAKE_PREFIX_PATH "${VELLIX_QT_WIN32_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
