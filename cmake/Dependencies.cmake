# toml11 4, fmt 11 and spdlog 1.15+ (built for fmt 11), all header-only, and
# Boost.Program_options. Sufficient system packages are used as they are;
# otherwise the headers that scripts/setup-deps.sh unpacked into .deps/include.

set(LOGREAP_DEPS_INCLUDE "${PROJECT_SOURCE_DIR}/.deps/include" CACHE PATH
    "Headers of toml11, fmt and spdlog fetched by scripts/setup-deps.sh")

function(logreap_header_version out header regex)
  file(STRINGS "${header}" line REGEX "${regex}")
  string(REGEX REPLACE ".*${regex}.*" "\\1" value "${line}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Finds the directory holding `probe` among the fetched headers and the system's.
function(logreap_find_headers out probe)
  find_path(dir "${probe}" PATHS "${LOGREAP_DEPS_INCLUDE}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT dir AND NOT CMAKE_CROSSCOMPILING)
    find_path(dir "${probe}")
  endif()
  if(NOT dir)
    message(FATAL_ERROR "${probe} not found: run scripts/setup-deps.sh first")
  endif()
  set(${out} "${dir}" PARENT_SCOPE)
  unset(dir CACHE)
endfunction()

logreap_find_headers(TOML11_DIR toml11/version.hpp)
logreap_find_headers(FMT_DIR fmt/base.h)
logreap_find_headers(SPDLOG_DIR spdlog/version.h)

logreap_header_version(toml_major "${TOML11_DIR}/toml11/version.hpp" "#define TOML11_VERSION_MAJOR ([0-9]+)")
logreap_header_version(fmt_version "${FMT_DIR}/fmt/base.h" "#define FMT_VERSION ([0-9]+)")
logreap_header_version(spdlog_major "${SPDLOG_DIR}/spdlog/version.h" "#define SPDLOG_VER_MAJOR ([0-9]+)")
logreap_header_version(spdlog_minor "${SPDLOG_DIR}/spdlog/version.h" "#define SPDLOG_VER_MINOR ([0-9]+)")

if(NOT toml_major EQUAL 4)
  message(FATAL_ERROR "toml11 4.x is needed; ${TOML11_DIR} holds major version ${toml_major}")
endif()
if(fmt_version LESS 110000 OR fmt_version GREATER_EQUAL 120000)
  message(FATAL_ERROR "fmt 11.x is needed; ${FMT_DIR} holds version ${fmt_version}")
endif()
if(NOT spdlog_major EQUAL 1 OR spdlog_minor LESS 15)
  message(FATAL_ERROR "spdlog 1.15 or later is needed; ${SPDLOG_DIR} holds ${spdlog_major}.${spdlog_minor}")
endif()
message(STATUS "toml11 ${toml_major}.x, fmt ${fmt_version}, spdlog ${spdlog_major}.${spdlog_minor} "
               "from ${TOML11_DIR}")

add_library(logreap_thirdparty INTERFACE)
add_library(logreap::thirdparty ALIAS logreap_thirdparty)
target_include_directories(logreap_thirdparty SYSTEM BEFORE INTERFACE
  ${TOML11_DIR} ${FMT_DIR} ${SPDLOG_DIR})
target_compile_definitions(logreap_thirdparty INTERFACE
  FMT_HEADER_ONLY SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL
  SPDLOG_ACTIVE_LEVEL=SPDLOG_LEVEL_TRACE)

if(LOGREAP_BOOST_ROOT_FROM_TOOLCHAIN)
  # The cross build: Boost and GoogleTest from Debian's sources.
  include(WindowsCross)
else()
  find_package(Boost 1.74 REQUIRED COMPONENTS program_options)
endif()
