# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads,
# which std::thread needs). The libraries come from the prefix named by
# TOLVANE_WINDOWS_PREFIX (scripts/build-windows.sh builds it); programs built
# here run on this machine through Wine, so CTest can run the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLVANE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVANE_MINGW}-windres)

if(NOT TOLVANE_WINDOWS_PREFIX AND DEFINED ENV{TOLVANE_WINDOWS_PREFIX})
    set(TOLVANE_WINDOWS_PREFIX $ENV{TOLVANE_WINDOWS_PREFIX})
endif()
# try_compile runs CMake again with this file: pass the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOLVANE_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVANE_MINGW} ${TOLVANE_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the Windows libraries only, never the host's.
if(TOLVANE_WINDOWS_PREFIX)
    set(ENV{PKG_CONFIG_LIBDIR} ${TOLVANE_WINDOWS_PREFIX}/lib/pkgconfig:${TOLVANE_WINDOWS_PREFIX}/share/pkgconfig)
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# The compiler's own C and C++ run-times are linked in; winpthread stays a
# DLL that is shipped with the libraries' DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

if(TOLVANE_WINDOWS_PREFIX)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh ${TOLVANE_WINDOWS_PREFIX})
endif()
