// logreap: deletes the suite's old log files and the directories they leave empty.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fmt/std.h>
#include <spdlog/spdlog.h>
#include <boost/program_options.hpp>

#include "CommandLine.hpp"
#include "FailureReport.hpp"
#include "LogPaths.hpp"
#include "Logger.hpp"
#include "Purge.hpp"
#include "RunTimer.hpp"
#include "config/ConfigFile.hpp"
#include "config/config.hpp"
#include "detail/DisplayText.hpp"

namespace po = boost::program_options;
namespace fs = std::filesystem;

namespace norvane::abap {
namespace {

constexpr std::int32_t kDefaultRetentionDays = 14;

// Whole days counted in 32 bits, as the retention period is. The formatter needs
// the period in seconds to fit 32 bits unsigned (49,710 days); a longer one is
// reported by the logger's error handler and the purge still runs.
using RetentionDays = std::chrono::duration<std::int32_t, std::chrono::days::period>;

void printUsage() {
    std::cout << "usage: logreap [-h] [--config PATH]\n";
    std::cout << "  -h, --help         show this help message and exit\n";
    std::cout << "  -c, --config PATH  path to the config file\n";
}

// The run from the command line to the end of the purge. Command-line errors
// are reported here (status 1); every other error leaves to main.
int run(int argc, char** argv, po::options_description& options) {
    try {
        const RunTimer timer;
        addOptions(options);
        const po::positional_options_description positional;
        po::variables_map variables;
        const auto parsed =
            po::command_line_parser(argc, argv).options(options).positional(positional).run();
        po::store(parsed, variables);
        if (variables.count("help") != 0) {
            printUsage();
            return 0;
        }
        po::notify(variables);

        config::loadG_Config(configFilePath(variables));

        const auto logger = createLogger(config::getG_Config());
        const fs::path userLogs = publicLogsPath(config::getG_Config().settings.userdata);
        const fs::path installLogs =
            normalisedDirectory(config::getG_Config().settings.install) / "logs";
        const std::int32_t days =
            config::getG_Config().logging.retentionperiod.value_or(kDefaultRetentionDays);

        SPDLOG_LOGGER_INFO(logger, "Starting log purge operation");
        SPDLOG_LOGGER_INFO(logger,
                           "Purging logs older than {:%j day(s) and %T} in the '{}' and '{}' "
                           "directories",
                           RetentionDays(days), displayText(userLogs.string()),
                           displayText(installLogs.string()));
        pruneLogDirectory(userLogs, days);
        pruneLogDirectory(installLogs, days);
        SPDLOG_LOGGER_INFO(logger, "Log purge operation completed");
        return 0;
    } catch (const po::error& error) {
        return failRun(
            1,
            fmt::format("Command line error: {}\nRun logreap --help for usage information", error));
    }
}

}  // namespace
}  // namespace norvane::abap

int main(int argc, char** argv) {
    po::options_description options("Allowed options");
    // Errors the run does not handle arrive here after its timer has printed the
    // total time: one report, status 2, and never std::terminate.
    try {
        return norvane::abap::run(argc, argv, options);
    } catch (const std::exception& error) {
        std::fflush(stdout);  // the time first, as on a command-line error
        return norvane::abap::failRun(2, fmt::format("logreap: error: {}", error.what()));
    } catch (...) {
        std::fflush(stdout);
        return norvane::abap::failRun(2, "logreap: error: unknown error");
    }
}
