#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include <spdlog/logger.h>

#include "config/Config.hpp"

namespace norvane::abap {

// The name the logger is registered under, and under which the purge finds it.
inline constexpr const char* kLoggerName = "logreap";

// Builds the logger kLoggerName: a daily file in the user-data public/Logs
// directory and, unless the console level is "off", a coloured console sink.
// Registers it and makes it the default logger.
std::shared_ptr<spdlog::logger> createLogger(const config::G_Config& config);

// The file that `logger`'s daily sink is writing now, if `logger` is the last
// one createLogger made.
std::optional<std::filesystem::path> currentLogFile(const spdlog::logger& logger);

}  // namespace norvane::abap
