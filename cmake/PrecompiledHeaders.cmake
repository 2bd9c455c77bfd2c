# The header-only libraries dominate compile time: every file that includes
# them compiles their implementation again. One precompiled header of them is
# built once and reused by every target that uses the libraries.

set(logreap_pch_headers
  <filesystem> <memory> <optional> <string> <vector>
  <toml.hpp>
  <fmt/chrono.h> <fmt/format.h> <fmt/std.h>
  <spdlog/spdlog.h> <spdlog/sinks/daily_file_sink.h>)
if(WIN32)
  list(APPEND logreap_pch_headers <spdlog/sinks/wincolor_sink.h>)
else()
  list(APPEND logreap_pch_headers <spdlog/sinks/ansicolor_sink.h>)
endif()

add_library(logreap_pch OBJECT ${PROJECT_SOURCE_DIR}/cmake/precompiled.cpp)
target_link_libraries(logreap_pch PRIVATE logreap::thirdparty logreap::warnings)
target_precompile_headers(logreap_pch PRIVATE ${logreap_pch_headers})

# Targets that use the libraries take the shared precompiled header.
function(logreap_use_pch target)
  target_precompile_headers(${target} REUSE_FROM logreap_pch)
endfunction()

# The tests' own, with GoogleTest in it as well.
function(logreap_add_test_pch)
  add_library(logreap_test_pch OBJECT ${PROJECT_SOURCE_DIR}/cmake/precompiled.cpp)
  target_link_libraries(logreap_test_pch PRIVATE logreap::thirdparty logreap::warnings
    GTest::gmock GTest::gtest)
  target_compile_definitions(logreap_test_pch PRIVATE LOGREAP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_precompile_headers(logreap_test_pch PRIVATE ${logreap_pch_headers}
    <gmock/gmock.h> <gtest/gtest.h>)
endfunction()
