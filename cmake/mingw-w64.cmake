# Cross-builds for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64); scripts/build-windows.sh uses it:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         [-DZUDIRUV_WINDOWS_QT=<unpacked Qt for Windows>]
# Without a Qt for Windows only arpping.exe and eflash.exe are built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
# The POSIX thread model: std::thread and std::mutex in GCC 12 need it, and
# the Qt for Windows is built with it; program, Qt and runtime DLLs must all
# come from the one model.
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Packages are looked for only under these roots, so the Qt folder is one.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
if(ZUDIRUV_WINDOWS_QT)
    list(APPEND CMAKE_FIND_ROOT_PATH ${ZUDIRUV_WINDOWS_QT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
