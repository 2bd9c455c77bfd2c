#include "Logger.hpp"

#include <cstdio>
#include <memory>
#include <string>

#include <fmt/format.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

#ifdef _WIN32
#include <spdlog/sinks/wincolor_sink.h>
#else
#include <spdlog/sinks/ansicolor_sink.h>
#endif

#include "LogPaths.hpp"

namespace norvane::abap {
namespace {

// The sink of the daily log file; currentLogFile recognises it by this type.
using DailySink = spdlog::sinks::daily_file_sink_mt;

// The coloured console sink, guarded by the library's console mutex.
#ifdef _WIN32
using ConsoleSink = spdlog::sinks::wincolor_stdout_sink_mt;
#else
using ConsoleSink = spdlog::sinks::ansicolor_stdout_sink_mt;
#endif

constexpr const char* kFilePattern = "[%Y-%m-%d %T.%e%z] [%l] [thread %t] [%@] %v";
constexpr const char* kConsolePattern = "%^[%Y-%m-%d %T.%e%z] [%l]%$ %v";

// The log file's stream buffer. The C library's default of a few kilobytes
// makes a debug run write every twentieth line; 64 KiB writes hundreds at once.
// Flushing is unchanged: at the configured level and when the logger goes.
constexpr std::size_t kLogFileBufferBytes = 64 * 1024;

spdlog::file_event_handlers withLargerBuffer() {
    // Owned by the sink's handlers, so it outlives the stream's last flush.
    auto buffer = std::shared_ptr<char[]>(new char[kLogFileBufferBytes]);
    spdlog::file_event_handlers handlers;
    handlers.after_open = [buffer](const spdlog::filename_t&, std::FILE* file) {
        (void)std::setvbuf(file, buffer.get(), _IOFBF, kLogFileBufferBytes);  // else the default
    };
    return handlers;
}

std::string levelNameOf(spdlog::level::level_enum level) {
    return fmt::format("{}", spdlog::level::to_string_view(level));
}

void addConsoleSink(spdlog::logger& logger, const std::string& levelName) {
    auto console = std::make_shared<ConsoleSink>(spdlog::color_mode::automatic);
    console->set_level(spdlog::level::from_str(levelName));
    console->set_pattern(kConsolePattern);
    logger.sinks().push_back(std::move(console));
}

}  // namespace

std::shared_ptr<spdlog::logger> createLogger(const config::G_Config& config) {
    const auto& logging = config.logging;
    const std::string fileName =
        (publicLogsPath(config.settings.userdata) / "logreap.log").string();

    auto logger =
        spdlog::create<DailySink>(kLoggerName, fileName, 0, 0, false, 0, withLargerBuffer());
    logger->set_level(spdlog::level::from_str(logging.level));
    logger->set_pattern(kFilePattern, spdlog::pattern_time_type::local);
    logger->flush_on(spdlog::level::from_str(logging.flushlevel.value_or("info")));

    const std::string consoleLevel =
        logging.consolelevel.value_or(levelNameOf(spdlog::level::info));
    if (consoleLevel != levelNameOf(spdlog::level::off)) {
        addConsoleSink(*logger, consoleLevel);
    }
    spdlog::set_default_logger(logger);
    return logger;
}

std::optional<std::filesystem::path> currentLogFile(const spdlog::logger& logger) {
    for (const auto& sink : logger.sinks()) {
        if (const auto daily = std::dynamic_pointer_cast<DailySink>(sink)) {
            return std::filesystem::path(daily->filename());
        }
    }
    return std::nullopt;
}

}  // namespace norvane::abap
