# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model).
# The runtime (libstdc++, libgcc, winpthread) is linked statically, so the .exe
# stands alone. Programs built here run under Wine's 64-bit loader.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LOGREAP_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LOGREAP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LOGREAP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LOGREAP_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${LOGREAP_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${LOGREAP_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Light optimisation keeps the objects small: linking a test program built from
# unoptimised GoogleTest and libstdc++ templates (and listing its tests under
# Wine) took 11-16 s, against 2-5 s at -O1; that is most of a rebuild after a
# one-file change.
set(CMAKE_CXX_FLAGS_INIT "-O1")

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${LOGREAP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Boost.Program_options is compiled from the sources that
# scripts/setup-windows-deps.sh unpacked, against the headers of its own include
# folder there (see cmake/WindowsCross.cmake).
get_filename_component(LOGREAP_BOOST_ROOT_FROM_TOOLCHAIN "${CMAKE_CURRENT_LIST_DIR}/../.deps/windows" ABSOLUTE)

# Wine's 64-bit loader runs what the build made (test discovery, CTest), in a
# prefix of the build folder's own.
set(LOGREAP_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine's 64-bit loader")
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${LOGREAP_WINE_LOADER})
