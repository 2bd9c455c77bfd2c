#pragma once

#include <memory>

#include <spdlog/logger.h>

#include "config/config.hpp"

namespace norvane::abap {

// Builds the logger "logreap": a daily file in the user-data public/Logs
// directory and, unless the console level is "off", a coloured console sink.
// Registers it and makes it the default logger.
std::shared_ptr<spdlog::logger> createLogger(const config::G_Config& config);

}  // namespace norvane::abap
