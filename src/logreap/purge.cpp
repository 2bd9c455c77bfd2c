#include "purge.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

#include "DisplayText.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace norvane::abap {
namespace {

constexpr const char* kLoggerName = "logreap";

// The registered logger, or one without sinks so that a purge without a logger
// still does its work (and evaluates its messages) but writes nowhere.
std::shared_ptr<spdlog::logger> purgeLogger() {
    if (auto logger = spdlog::get(kLoggerName)) {
        return logger;
    }
    return std::make_shared<spdlog::logger>(kLoggerName);
}

// The file that the logger's daily sink is writing now, if it has one. Removing
// it would send the rest of the run's messages to an unlinked file.
fs::path currentLogFile(const spdlog::logger& logger) {
    for (const auto& sink : logger.sinks()) {
        if (auto daily = std::dynamic_pointer_cast<spdlog::sinks::daily_file_sink_mt>(sink)) {
            return fs::path(daily->filename());
        }
    }
    return {};
}

bool isSameFile(const fs::path& candidate, const fs::path& logFile) {
    if (logFile.empty() || candidate.filename() != logFile.filename()) {
        return false;
    }
    std::error_code ignored;
    return fs::equivalent(candidate, logFile, ignored);
}

bool isOlderRegularFile(const fs::directory_entry& entry, Clock::time_point cutoff) {
    std::error_code ec;
    const auto written = fs::last_write_time(entry.path(), ec);
    if (ec) {
        return false;  // no readable time (a broken link, access denied): passed over
    }
    const auto writtenSys = fs::file_time_type::clock::to_sys(written);
    // Absent entries (vanished meanwhile) read as not_found and are passed over.
    return fs::is_regular_file(fs::status(entry.path())) && writtenSys < cutoff;
}

void deleteOldFiles(const fs::path& directory, Clock::time_point cutoff, spdlog::logger& logger) {
    const fs::path ownLogFile = currentLogFile(logger);
    for (fs::recursive_directory_iterator it(directory), end; it != end; ++it) {
        if (!isOlderRegularFile(*it, cutoff)) {
            continue;
        }
        SPDLOG_LOGGER_DEBUG(&logger, "Deleting log file: {}", displayText(it->path().string()));
        if (!isSameFile(it->path(), ownLogFile)) {
            std::error_code disregarded;
            fs::remove(it->path(), disregarded);
        }
    }
}

// A directory is kept as its path's text: a path object also holds each of its
// elements as a path of its own, several times the size of the text for a deep
// directory, and this list is all the memory that a large tree costs the purge.
struct CollectedDirectory {
    std::ptrdiff_t depth;  // elements of the path, as path iteration yields them
    fs::path::string_type path;
};

// Every subdirectory (by status, so links to directories too); a tree that
// cannot be opened a second time yields none.
std::vector<CollectedDirectory> collectDirectories(const fs::path& directory) {
    std::vector<CollectedDirectory> directories;
    std::error_code ec;
    fs::recursive_directory_iterator it(directory, ec);
    if (ec) {
        return directories;
    }
    for (const fs::recursive_directory_iterator end; it != end; ++it) {
        if (fs::is_directory(fs::status(it->path()))) {
            const auto& path = it->path();
            directories.push_back({std::distance(path.begin(), path.end()), path.native()});
        }
    }
    return directories;
}

// Deepest first, so that each parent comes after everything it contains.
void sortDeepestFirst(std::vector<CollectedDirectory>& directories) {
    std::sort(directories.begin(), directories.end(),
              [](const auto& a, const auto& b) { return a.depth > b.depth; });
}

// Removal refuses a directory that still holds entries; that refusal is the
// emptiness test.
void removeEmptyDirectories(const std::vector<CollectedDirectory>& directories,
                            spdlog::logger& logger) {
    for (const auto& directory : directories) {
        const fs::path path(directory.path);
        SPDLOG_LOGGER_DEBUG(&logger, "Trying to remove directory '{}' if empty.",
                            displayText(path.string()));
        std::error_code ec;
        fs::remove(path, ec);
        if (!ec) {
            SPDLOG_LOGGER_DEBUG(&logger, "Successfully removed directory: '{}'",
                                displayText(path.string()));
        }
    }
}

}  // namespace

Clock::time_point purgeCutoff(Clock::time_point now, std::int32_t retentionDays) {
    using Rep = Clock::rep;
    constexpr Rep kMin = std::numeric_limits<Rep>::min();
    constexpr Rep kMax = std::numeric_limits<Rep>::max();
    constexpr Rep kTicksPerDay =
        std::chrono::duration_cast<Clock::duration>(std::chrono::hours{24}).count();
    constexpr Rep kMaxDays = kMax / kTicksPerDay;

    const auto days = static_cast<Rep>(retentionDays);
    if (days > kMaxDays) {
        return Clock::time_point::min();
    }
    if (days < -kMaxDays) {
        return Clock::time_point::max();
    }
    const Rep period = days * kTicksPerDay;
    const Rep nowTicks = now.time_since_epoch().count();
    if (period > 0 && nowTicks < kMin + period) {
        return Clock::time_point::min();
    }
    if (period < 0 && nowTicks > kMax + period) {
        return Clock::time_point::max();
    }
    return Clock::time_point(Clock::duration(nowTicks - period));
}

void deleteLogFiles(const fs::path& directory, Clock::time_point cutoff) {
    const auto logger = purgeLogger();
    deleteOldFiles(directory, cutoff, *logger);
    auto directories = collectDirectories(directory);
    sortDeepestFirst(directories);
    removeEmptyDirectories(directories, *logger);
}

void pruneLogDirectory(const fs::path& directory, std::int32_t retentionDays) {
    if (!fs::is_directory(fs::status(directory))) {
        return;
    }
    deleteLogFiles(directory, purgeCutoff(Clock::now(), retentionDays));
}

}  // namespace norvane::abap
