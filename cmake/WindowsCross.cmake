# What the Windows cross build takes in place of the build machine's libraries:
# Boost.Program_options compiled from Debian's Boost sources, GoogleTest from
# the sources of Debian's googletest package, and a Wine prefix for running.

set(LOGREAP_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest)")

function(logreap_require_windows_deps what path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${what} not found at ${path}: run scripts/setup-windows-deps.sh first")
  endif()
endfunction()

# Boost.Program_options, static, with the warnings of its own sources silenced.
set(boost_root "${LOGREAP_BOOST_ROOT_FROM_TOOLCHAIN}")
logreap_require_windows_deps("The Boost.Program_options sources" "${boost_root}/boost/libs/program_options/src/cmdline.cpp")
logreap_require_windows_deps("The Boost include folder" "${boost_root}/include/boost/program_options.hpp")
file(GLOB boost_po_sources CONFIGURE_DEPENDS "${boost_root}/boost/libs/program_options/src/*.cpp")
add_library(logreap_boost_program_options STATIC ${boost_po_sources})
target_include_directories(logreap_boost_program_options SYSTEM PUBLIC "${boost_root}/include")
target_compile_definitions(logreap_boost_program_options PUBLIC BOOST_ALL_NO_LIB BOOST_PROGRAM_OPTIONS_NO_LIB)
target_compile_options(logreap_boost_program_options PRIVATE -w)
add_library(Boost::program_options ALIAS logreap_boost_program_options)

# GoogleTest, standing in for find_package(GTest) of the tests.
if(LOGREAP_BUILD_TESTS)
  logreap_require_windows_deps("GoogleTest" "${LOGREAP_GOOGLETEST_SOURCE}/CMakeLists.txt")
  include(FetchContent)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  FetchContent_Declare(GTest SOURCE_DIR "${LOGREAP_GOOGLETEST_SOURCE}" OVERRIDE_FIND_PACKAGE)
  FetchContent_MakeAvailable(GTest)

  # The Wine prefix, created once here rather than by the first of many
  # programs started in parallel.
  list(GET CMAKE_CROSSCOMPILING_EMULATOR -1 wine_loader)
  logreap_require_windows_deps("Wine's 64-bit loader (package wine64)" "${wine_loader}")
  # Without its preloader beside it, Wine fails to start now and then (see
  # scripts/setup-windows-deps.sh).
  get_filename_component(wine_dir "${wine_loader}" DIRECTORY)
  logreap_require_windows_deps("Wine's preloader (package wine64-preloader)" "${wine_dir}/wine64-preloader")
  if(NOT EXISTS "${CMAKE_BINARY_DIR}/wineprefix/system.reg")
    message(STATUS "Creating the Wine prefix ${CMAKE_BINARY_DIR}/wineprefix")
    execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
                    RESULT_VARIABLE wineboot_status OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${wine_dir}/wineserver -w)
    if(NOT EXISTS "${CMAKE_BINARY_DIR}/wineprefix/system.reg")
      message(FATAL_ERROR "Wine could not create its prefix in ${CMAKE_BINARY_DIR}/wineprefix (${wineboot_status})")
    endif()
  endif()
endif()

# Every program in one folder: the tests find logreap.exe beside themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
