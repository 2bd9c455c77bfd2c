// Links that lead out of or back up the purged trees, purge directories that
// are links, awkward file names and paths beyond PATH_MAX, on whole runs of
// the binary. (The escaping of names on its own is tested with the purge.)

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Hardening.hpp"
#include "detail/DisplayText.hpp"

namespace fs = std::filesystem;
using logreap::hardening::malformedLogLine;
using logreap::test::kOld;
using logreap::test::RunFixture;
using norvane::abap::displayText;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

class Escapes : public RunFixture, public ::testing::Test {};

TEST_F(Escapes, LinksOutOfTheTreeOrBackUpAreRemovedAndNeverFollowed) {
    tree.file("outside/old.log", kOld);
    tree.file("outside/dir/old.log", kOld);
    tree.dir("outside/dir/empty");
    tree.file("suite/bin/old.exe", kOld);
    tree.file("suite/logs/real/old.log", kOld);
    const fs::path logs = installLogs();
    fs::create_symlink(tree / "outside/old.log", logs / "to-old-file");
    fs::create_directory_symlink(tree / "outside/dir", logs / "to-dir");
    fs::create_directory_symlink("..", logs / "up");
    fs::create_directory_symlink("../../..", logs / "real/top");
    fs::create_directory_symlink(logs, logs / "real/loop");

    const auto result = run();

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    // Every link goes as a link, and no target loses anything.
    EXPECT_THAT(
        tree.listing(),
        ElementsAre("config.toml", "data/", "data/public/", "data/public/Logs/",
                    "data/public/Logs/" + logreap::test::todaysLogFileName(), "outside/",
                    "outside/dir/", "outside/dir/empty/", "outside/dir/old.log", "outside/old.log",
                    "suite/", "suite/bin/", "suite/bin/old.exe", "suite/logs/", "work/"));
    const std::string logged = logText();
    EXPECT_THAT(logged, HasSubstr("Deleting log file: " + (logs / "to-old-file").string() + "\n"));
    EXPECT_THAT(logged, HasSubstr("Successfully removed directory: '" + (logs / "up").string()));
    EXPECT_THAT(logged, Not(HasSubstr("outside/dir/old.log")));
    EXPECT_THAT(logged, Not(HasSubstr("/up/")));
    EXPECT_THAT(logged, Not(HasSubstr("/top/")));
    EXPECT_EQ(malformedLogLine(logged), std::nullopt);
}

TEST_F(Escapes, PurgeDirectoriesThatAreLinksArePurgedThroughTheLink) {
    tree.file("elsewhere/Logs/old.log", kOld);
    tree.file("elsewhere/Logs/new.log");
    tree.dir("data/public");
    fs::create_directory_symlink("../../elsewhere/Logs", tree / "data/public/Logs");
    tree.file("real-suite/logs/old.log", kOld);
    tree.dir("real-suite/logs/empty");
    fs::create_directory_symlink(tree / "real-suite", tree / "suite");

    const auto result = run();

    EXPECT_EQ(result.status, 0) << result.err;
    const std::string logName = logreap::test::todaysLogFileName();
    EXPECT_THAT(tree.listing(), ElementsAre("config.toml", "data/", "data/public/",
                                            "data/public/Logs", "elsewhere/", "elsewhere/Logs/",
                                            "elsewhere/Logs/" + logName, "elsewhere/Logs/new.log",
                                            "real-suite/", "real-suite/logs/", "suite", "work/"));
    // The messages name the paths beneath the links, as the walk forms them.
    const std::string logged = logText();
    EXPECT_THAT(logged, HasSubstr("Deleting log file: " + (userLogs() / "old.log").string()));
    EXPECT_THAT(logged, HasSubstr("Successfully removed directory: '" +
                                  (installLogs() / "empty").string() + "'"));
}

TEST_F(Escapes, AwkwardNamesArePurgedAndLoggedOneMessageALine) {
    const std::vector<std::string> names{"with blank.log",
                                         "line\nbreak.log",
                                         "forged\n[2024-01-01 00:00:00.000+00:00] [info] x",
                                         "not utf-8 \xff\xfe.log",
                                         "esc\x1b[2Jclear.log",
                                         "-rf",
                                         "--help",
                                         "tab\tcr\r.log"};
    for (const auto& name : names) {
        tree.file("suite/logs/" + name, kOld);
        tree.file("suite/logs/dir\n" + name + "/new-" + name);
    }
    // A configuration file whose name starts with a dash, and a user-data
    // directory with a blank, a line end and non-ASCII letters in its name.
    config["settings"]["userdata"] = (tree / "data dir\n\xc3\xbc").string();
    logreap::test::writeConfig(tree / "work/-config.toml", config);

    const auto result = logreap::test::runLogreap({"--config=-config.toml"},
                                                  logreap::test::inDirectory(tree / "work"));

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const auto& name : names) {
        EXPECT_FALSE(fs::exists(installLogs() / name)) << displayText(name);
        EXPECT_TRUE(fs::exists(installLogs() / ("dir\n" + name) / ("new-" + name)))
            << displayText(name);
    }
    const std::string logged = logreap::test::readFile(tree / "data dir\n\xc3\xbc/public/Logs" /
                                                       logreap::test::todaysLogFileName());
    EXPECT_EQ(malformedLogLine(logged), std::nullopt);
    EXPECT_THAT(logged, HasSubstr("] Deleting log file: " + installLogs().string() +
                                  "/line\\x0Abreak.log\n"));
    EXPECT_THAT(logged, HasSubstr("' and '" + installLogs().string() + "' directories"));
    EXPECT_THAT(logged, HasSubstr("in the '" + tree.root().string() +
                                  "/data dir\\x0A\xc3\xbc/public/Logs'"));
    // Three messages of the run, and one for each old file and each directory.
    EXPECT_EQ(logreap::test::lines(logged).size(), 3 + names.size() * 2);
}

// Creates a chain of directories by descriptor, since the paths outgrow what
// the path-based calls accept; each level holds an old file.
std::vector<fs::path> makeDeepChain(const fs::path& base, std::size_t bytes) {
    std::vector<fs::path> files;
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
    fs::path path = base;
    const std::string name(200, 'd');
    const timespec old[2] = {{::time(nullptr) - 3600 * 24 * 30, 0},
                             {::time(nullptr) - 3600 * 24 * 30, 0}};
    while (fd >= 0 && path.native().size() < bytes) {
        const int file = ::openat(fd, "old.log", O_WRONLY | O_CREAT, 0644);
        ::close(file);
        ::utimensat(fd, "old.log", old, 0);
        files.push_back(path / "old.log");
        ::mkdirat(fd, name.c_str(), 0755);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path /= name;
    }
    ::close(fd);
    return files;
}

bool existsByDescriptor(const fs::path& base, const fs::path& relative) {
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    for (std::size_t i = 0; fd >= 0 && i + 1 < parts.size(); ++i) {
        const int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    struct stat info {};
    const bool found = fd >= 0 && ::fstatat(fd, parts.back().c_str(), &info, 0) == 0;
    ::close(fd);
    return found;
}

// Every call is relative to an open directory, so no path the tool forms
// reaches the kernel whole, and PATH_MAX does not limit the depth it purges.
TEST_F(Escapes, PathsBeyondPathMaxArePurgedWhole) {
    tree.file("data/public/Logs/old.log", kOld);
    tree.dir("suite/logs/empty");
    const auto files = makeDeepChain(installLogs(), 6000);
    struct Cleanup {
        fs::path root;
        ~Cleanup() { logreap::hardening::removeTree(root); }
    } cleanup{tree / "suite"};
    ASSERT_GT(files.back().native().size(), 5000u);

    const auto result = run();

    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const auto& file : files) {
        EXPECT_FALSE(existsByDescriptor(installLogs(), file.lexically_relative(installLogs())))
            << file.native().size();
    }
    EXPECT_TRUE(fs::is_empty(installLogs()));  // the chain, deepest first, and "empty"
    EXPECT_FALSE(fs::exists(userLogs() / "old.log"));
    const std::string logged = logText();
    EXPECT_THAT(logged, HasSubstr("Deleting log file: " + files.back().string() + "\n"));
    EXPECT_THAT(logged, HasSubstr("Successfully removed directory: '" +
                                  files.back().parent_path().string() + "'\n"));
    EXPECT_EQ(malformedLogLine(logged), std::nullopt);
}

}  // namespace
