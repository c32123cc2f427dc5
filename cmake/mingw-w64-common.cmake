# What the two MinGW-w64 toolchain files share: the compilers of one target
# (posix thread model) and a Qt 5 for Windows from shared/toolchains,
# unpacked into the build folder on first use. The including file sets
# VELLIX_MINGW_TRIPLE (i686-w64-mingw32 ...), VELLIX_QT_WIN_NAME (the name
# of the packed prefix) and VELLIX_QT_WIN_TOOLCHAIN (its folder there).

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VELLIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLIX_MINGW_TRIPLE}-windres)

# Where the Qt prefix is, or where to unpack it: passed on to try_compile.
if(NOT VELLIX_QT_WIN_PREFIX)
    set(VELLIX_QT_WIN_PREFIX "${CMAKE_BINARY_DIR}/${VELLIX_QT_WIN_NAME}")
endif()
set(VELLIX_QT_WIN_ARCHIVE
    "${CMAKE_CURRENT_LIST_DIR}/../../shared/toolchains/${VELLIX_QT_WIN_TOOLCHAIN}/${VELLIX_QT_WIN_NAME}.tar.xz"
    CACHE FILEPATH "The packed Qt 5 for Windows")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELLIX_QT_WIN_PREFIX VELLIX_QT_WIN_ARCHIVE)

if(NOT EXISTS "${VELLIX_QT_WIN_PREFIX}/lib/cmake/Qt5Core")
    if(NOT EXISTS "${VELLIX_QT_WIN_ARCHIVE}")
        message(FATAL_ERROR "Qt 5 for Windows: neither ${VELLIX_QT_WIN_PREFIX} nor ${VELLIX_QT_WIN_ARCHIVE}")
    endif()
    get_filename_component(unpack_into "${VELLIX_QT_WIN_PREFIX}" DIRECTORY)
    file(MAKE_DIRECTORY "${unpack_into}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xJf "${VELLIX_QT_WIN_ARCHIVE}"
                    WORKING_DIRECTORY "${unpack_into}" RESULT_VARIABLE unpacked)
    if(NOT unpacked EQUAL 0)
        message(FATAL_ERROR "could not unpack ${VELLIX_QT_WIN_ARCHIVE}")
    endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VELLIX_MINGW_TRIPLE} "${VELLIX_QT_WIN_PREFIX}")
set(CMAKE_PREFIX_PATH "${VELLIX_QT_WIN_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
