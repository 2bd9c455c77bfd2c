# The libraries, as the setup scripts provide them:
# - toml11 4.4.0, header-only, from .deps/include (logreap::toml). Only
#   config/TomlDocument.hpp includes it, with the project's corrections;
# - fmt 11 and spdlog 1.15+, static libraries with their CMake package files in
#   .deps/linux, or .deps/mingw for the Windows cross build (logreap::logging);
# - Boost.Program_options: the static library of Debian's package, or compiled
#   from Debian's sources for the cross build (cmake/WindowsCross.cmake).

set(LOGREAP_DEPS_INCLUDE "${PROJECT_SOURCE_DIR}/.deps/include" CACHE PATH
    "toml11's headers, fetched by scripts/setup-deps.sh")
if(CMAKE_CROSSCOMPILING)
  set(deps_prefix "${PROJECT_SOURCE_DIR}/.deps/mingw")
  set(deps_setup "scripts/setup-windows-deps.sh")
else()
  set(deps_prefix "${PROJECT_SOURCE_DIR}/.deps/linux")
  set(deps_setup "scripts/setup-deps.sh")
endif()
set(LOGREAP_DEPS_PREFIX "${deps_prefix}" CACHE PATH
    "Where the setup scripts installed fmt and spdlog for this build's compiler")

# toml11
find_path(TOML11_DIR toml11/version.hpp PATHS "${LOGREAP_DEPS_INCLUDE}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT TOML11_DIR)
  message(FATAL_ERROR "toml11 not found in ${LOGREAP_DEPS_INCLUDE}: run scripts/setup-deps.sh first")
endif()
file(STRINGS "${TOML11_DIR}/toml11/version.hpp" toml_version_lines REGEX "#define TOML11_VERSION_(MAJOR|MINOR|PATCH) ")
string(REGEX REPLACE "[^;]*MAJOR ([0-9]+)[^;]*;[^;]*MINOR ([0-9]+)[^;]*;[^;]*PATCH ([0-9]+).*" "\\1.\\2.\\3"
       toml_version "${toml_version_lines}")
if(NOT toml_version VERSION_EQUAL 4.4.0)
  message(FATAL_ERROR "toml11 4.4.0 is needed (config/TomlDocument.hpp corrects that release); "
                      "${TOML11_DIR} holds ${toml_version}")
endif()
add_library(logreap_toml INTERFACE)
add_library(logreap::toml ALIAS logreap_toml)
target_include_directories(logreap_toml SYSTEM INTERFACE "${TOML11_DIR}")

# fmt and spdlog
find_package(fmt 11 CONFIG PATHS "${LOGREAP_DEPS_PREFIX}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_package(spdlog 1.15 CONFIG PATHS "${LOGREAP_DEPS_PREFIX}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT fmt_FOUND OR NOT spdlog_FOUND OR fmt_VERSION VERSION_GREATER_EQUAL 12)
  message(FATAL_ERROR "fmt 11 and spdlog 1.15 or later not found in ${LOGREAP_DEPS_PREFIX}: "
                      "run ${deps_setup} first")
endif()
message(STATUS "toml11 ${toml_version}, fmt ${fmt_VERSION}, spdlog ${spdlog_VERSION}")
add_library(logreap_logging INTERFACE)
add_library(logreap::logging ALIAS logreap_logging)
target_link_libraries(logreap_logging INTERFACE spdlog::spdlog fmt::fmt)
target_compile_definitions(logreap_logging INTERFACE SPDLOG_ACTIVE_LEVEL=SPDLOG_LEVEL_TRACE)

if(LOGREAP_BOOST_ROOT_FROM_TOOLCHAIN)
  # The cross build: Boost and GoogleTest from Debian's sources.
  include(WindowsCross)
else()
  # Static, as fmt and spdlog are: the program needs only the C and C++ runtimes.
  set(Boost_USE_STATIC_LIBS ON)
  find_package(Boost 1.74 REQUIRED COMPONENTS program_options)
endif()
