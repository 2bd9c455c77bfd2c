#include "Logger.hpp"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "LogPaths.hpp"

namespace norvane::abap {
namespace {

using DailySink = spdlog::sinks::daily_file_sink_mt;

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

// The last logger made here and its daily sink, for currentLogFile. Held
// weakly, so that neither outlives its other owners.
std::mutex madeMutex;
std::weak_ptr<spdlog::logger> madeLogger;
std::weak_ptr<DailySink> madeSink;

// A level read from the configuration: its name as the logging library reads
// names, or `otherwise` where the key is absent.
spdlog::level::level_enum levelNamed(const std::optional<std::string>& name,
                                     spdlog::level::level_enum otherwise) {
    return name ? spdlog::level::from_str(*name) : otherwise;
}

}  // namespace

std::shared_ptr<spdlog::logger> createLogger(const config::G_Config& config) {
    const auto& logging = config.logging;
    const std::string fileName =
        (publicLogsPath(config.settings.userdata) / "logreap.log").string();

    // What the library's daily-file factory does, keeping the sink for currentLogFile.
    auto daily = std::make_shared<DailySink>(fileName, 0, 0, false, 0, withLargerBuffer());
    auto logger = std::make_shared<spdlog::logger>(kLoggerName, daily);
    spdlog::initialize_logger(logger);
    {
        const std::lock_guard lock(madeMutex);
        madeLogger = logger;
        madeSink = daily;
    }
    logger->set_level(spdlog::level::from_str(logging.level));
    logger->set_pattern(kFilePattern, spdlog::pattern_time_type::local);
    logger->flush_on(levelNamed(logging.flushlevel, spdlog::level::info));

    // Only the exact text "off" leaves the console out; "OFF" is a console that
    // passes nothing, as the library reads that name.
    if (logging.consolelevel != spdlog::level::to_string_view(spdlog::level::off)) {
        auto console =
            std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
        console->set_level(levelNamed(logging.consolelevel, spdlog::level::info));
        console->set_pattern(kConsolePattern);
        logger->sinks().push_back(std::move(console));
    }
    spdlog::set_default_logger(logger);
    return logger;
}

std::optional<std::filesystem::path> currentLogFile(const spdlog::logger& logger) {
    const std::lock_guard lock(madeMutex);
    const auto sink = madeSink.lock();
    if (sink && madeLogger.lock().get() == &logger) {
        return std::filesystem::path(sink->filename());
    }
    return std::nullopt;
}

}  // namespace norvane::abap
