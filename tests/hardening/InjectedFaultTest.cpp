// What only an injected system call or a lowered limit shows on a whole run:
// entries that another program takes away between the listing and the
// purge's next step, a listing that cannot be read, a directory chain deeper
// than the descriptor limit. FaultShim.cpp is preloaded into the binary, run
// in a time zone of an odd offset (the log's time stamps must show local time).

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/chrono.h>
#include <gtest/gtest.h>

#include "Hardening.hpp"

namespace fs = std::filesystem;
using logreap::test::kOld;
using logreap::test::RunFixture;

namespace {

struct InjectedFault {
    std::string name;
    std::function<void(const RunFixture&)> layout;  // beside suite/logs/old.log
    std::vector<std::string> arming{};              // the shim's; none: no fault
    std::optional<std::uint64_t> fileLimit{};
    int status = 0;
    std::string error{};
    std::vector<std::string> left{};  // what is left beyond the skeleton, see left()
};
void PrintTo(const InjectedFault& fault, std::ostream* os) {
    *os << fault.name;
}

// `depth` directories "d" beneath `base`, an old file at the bottom; made
// relative to the level above, as the paths exceed PATH_MAX.
void makeChain(const fs::path& base, int depth) {
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int next = ::mkdirat(fd, "d", 0700) == 0 ? ::openat(fd, "d", O_RDONLY) : -1;
        ::close(fd);
        fd = next;
    }
    const int file = ::openat(fd, "old.log", O_WRONLY | O_CREAT, 0600);
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 30 * 86400, 0}};
    ASSERT_EQ(::futimens(file, times), 0) << std::strerror(errno);
    ::close(file);
    ::close(fd);
}

class InjectedFaults : public RunFixture, public ::testing::TestWithParam<InjectedFault> {
  protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) {
            zone_ = zone;
        }
        ::setenv("TZ", "NPT-05:45", 1);  // the child inherits it
        ::tzset();
    }
    void TearDown() override {
        if (zone_) {
            ::setenv("TZ", zone_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
        logreap::hardening::removeTree(tree.root());  // of any depth
    }

    // What the run left beyond the log directories and the day's log file,
    // to some depth (a chain left behind would exceed PATH_MAX).
    std::vector<std::string> left() const {
        const std::string skeleton =
            " config.toml data/ data/public/ data/public/Logs/ report "
            "suite/ suite/logs/ work/ data/public/Logs/" +
            logreap::test::todaysLogFileName() + " ";
        std::vector<std::string> entries;
        for (fs::recursive_directory_iterator it(tree.root()), end; it != end; ++it) {
            const std::string name = it->path().lexically_relative(tree.root()).string() +
                                     (it->is_directory() && !it->is_symlink() ? "/" : "");
            if (skeleton.find(" " + name + " ") == std::string::npos) {
                entries.push_back(name);
            }
            if (it.depth() == 5) {
                it.disable_recursion_pending();
            }
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

  private:
    std::optional<std::string> zone_;
};

TEST_P(InjectedFaults, GoOnOrStopAsFixedAndStampLocalTime) {
    const InjectedFault& fault = GetParam();
    tree.file("suite/logs/old.log", kOld);
    fault.layout(*this);
    logreap::test::ProcessOptions options;
    options.environment = fault.arming;
    options.environment.push_back("LD_PRELOAD=" LOGREAP_FAULT_SHIM);
    options.environment.push_back("LOGREAP_FAULT_REPORT=" + (tree / "report").string());
    const char* asan = std::getenv("ASAN_OPTIONS");  // the sanitizers' runtime, preloaded after
    options.environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0" +
                                  (asan ? ":" + std::string(asan) : ""));
    options.fileLimit = fault.fileLimit;
    const std::time_t before = std::time(nullptr);

    const auto result = run(std::nullopt, options);

    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, fault.status);
    EXPECT_EQ(result.err, fault.error);
    if (!fault.arming.empty()) {
        EXPECT_NE(logreap::test::readFile(tree / "report"), "") << "no fault injected";
    }
    EXPECT_EQ(left(), fault.left);
    const auto logged = logreap::test::lines(logText());
    ASSERT_FALSE(logged.empty());
    const std::string stamp = logged[0].substr(0, 20);  // "[YYYY-mm-dd HH:MM:SS"
    EXPECT_LE(fmt::format("[{:%Y-%m-%d %H:%M:%S}", fmt::localtime(before)), stamp);
    EXPECT_GE(fmt::format("[{:%Y-%m-%d %H:%M:%S}", fmt::localtime(after)), stamp);
    EXPECT_EQ(logged[0].substr(24, 7), "+05:45]") << logged[0];
}

INSTANTIATE_TEST_SUITE_P(
    Shim, InjectedFaults,
    ::testing::Values(
        InjectedFault{.name = "SubdirectoryTakenAwayBeforeItIsOpened",
                      .layout =
                          [](const RunFixture& f) {
                              f.tree.file("data/public/Logs/gone/old.log", kOld);
                              f.tree.file("data/public/Logs/sibling/old.log", kOld);
                          },
                      .arming = {"LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=gone",
                                 "LOGREAP_FAULT_MOVE_TO=../moved"},
                      .left = {"moved/", "moved/old.log"}},
        InjectedFault{.name = "EntryGoneBeforeItsStatusIsRead",
                      .layout =
                          [](const RunFixture& f) {
                              f.tree.file("suite/logs/sub/gone.log", kOld);
                              f.tree.file("suite/logs/sub/old.log", kOld);
                          },
                      .arming = {"LOGREAP_FAULT_CALL=fstatat", "LOGREAP_FAULT_NAME=gone.log",
                                 "LOGREAP_FAULT_ERRNO=" + std::to_string(ENOENT)},
                      .left = {"suite/logs/sub/", "suite/logs/sub/gone.log"}},
        InjectedFault{.name = "ListingThatCannotBeRead",
                      .layout =
                          [](const RunFixture& f) {
                              f.tree.file("data/public/Logs/broken/old.log", kOld);
                              f.tree.dir("data/public/Logs/empty");
                          },
                      .arming = {"LOGREAP_FAULT_CALL=getdents64", "LOGREAP_FAULT_NAME=broken",
                                 "LOGREAP_FAULT_ERRNO=" + std::to_string(EIO)},
                      .status = 2,
                      .error = "logreap: error: filesystem error: cannot increment recursive "
                               "directory iterator: Input/output error\n",
                      .left = {"data/public/Logs/broken/", "data/public/Logs/broken/old.log",
                               "data/public/Logs/empty/", "suite/logs/old.log"}},
        InjectedFault{
            .name = "ChainDeeperThanTheDescriptorLimit",
            .layout = [](const RunFixture& f) { makeChain(f.tree.dir("suite/logs/chain"), 5000); },
            .fileLimit = 256}),
    [](const auto& info) { return info.param.name; });

}  // namespace
