// What only an injected system call or a lowered limit shows on a whole run:
// entries another program takes away between the listing and the next step, a
// listing that cannot be read, a chain deeper than the descriptor limit. Runs
// preload FaultShim.cpp, in a zone of an odd offset: the log must show local time.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <fmt/chrono.h>
#include <gtest/gtest.h>

#include "Hardening.hpp"

namespace fs = std::filesystem;
using namespace logreap::test;

namespace {

// The runs' zone, NPT-05:45, as what the log and its name show of a time.
std::string local(const char* format, std::time_t time) {
    return fmt::format(fmt::runtime(format), fmt::gmtime(time + 5 * 3600 + 45 * 60));
}

struct InjectedFault {
    std::string name;
    std::vector<std::string> layout{};  // old files, directories ending in '/', "link -> target"
    int chain = 0;                      // levels "d" added above suite/logs/chain
    std::vector<std::string> arming{};  // the shim's; none: no fault
    std::optional<std::uint64_t> fileLimit{};
    int status = 0;
    std::string error{};              // {root}: the tree's
    std::vector<std::string> left{};  // what is left beyond the skeleton, see left()
    std::optional<std::set<std::string>>
        removed{};  // "Successfully removed" beneath data/public/Logs
};
void PrintTo(const InjectedFault& fault, std::ostream* os) {
    *os << fault.name;
}

class InjectedFaults : public RunFixture, public ::testing::TestWithParam<InjectedFault> {
  protected:
    ~InjectedFaults() override { logreap::hardening::removeTree(tree.root()); }  // of any depth

    // What the run left beyond the log directories and the day's log file, to
    // a depth that keeps a chain left behind within PATH_MAX.
    std::vector<std::string> left(const std::string& logName) const {
        const std::string skeleton =
            " config.toml data/ data/public/ data/public/Logs/ report "
            "suite/ suite/logs/ work/ data/public/Logs/" +
            logName + " ";
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
        std::ranges::sort(entries);
        return entries;
    }
};

TEST_P(InjectedFaults, GoOnOrStopAsFixedAndStampLocalTime) {
    const InjectedFault& fault = GetParam();
    tree.file("suite/logs/old.log", kOld);
    for (const auto& entry : fault.layout) {
        if (const auto arrow = entry.find(" -> "); arrow != std::string::npos) {
            const fs::path link = entry.substr(0, arrow);
            fs::create_symlink(entry.substr(arrow + 4),
                               tree.dir(link.parent_path()) / link.filename());
        } else {
            entry.ends_with('/') ? tree.dir(entry) : tree.file(entry, kOld);
        }
    }
    for (int level = 0; level < fault.chain; ++level) {  // by renames: the paths stay short
        fs::rename(installLogs() / "chain", tree.dir("suite/logs/up") / "d");
        fs::rename(installLogs() / "up", installLogs() / "chain");
    }
    ProcessOptions options;
    options.environment = fault.arming;
    options.fileLimit = fault.fileLimit;
    const char* asan = std::getenv("ASAN_OPTIONS");  // the sanitizers' runtime, preloaded after
    options.environment.insert(
        options.environment.end(),
        {"TZ=NPT-05:45", "LD_PRELOAD=" LOGREAP_FAULT_SHIM,
         "LOGREAP_FAULT_REPORT=" + (tree / "report").string(),
         "ASAN_OPTIONS=verify_asan_link_order=0" + (asan ? ":" + std::string(asan) : "")});
    const std::time_t before = std::time(nullptr);

    const auto result = run(std::nullopt, options);

    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, fault.status);
    EXPECT_EQ(result.err,
              fmt::format(fmt::runtime(fault.error), fmt::arg("root", tree.root().string())));
    if (!fault.arming.empty()) {
        EXPECT_NE(readFile(tree / "report"), "") << "no fault injected";
    }
    const std::string logName = local("logreap_{:%Y-%m-%d}.log", after);
    EXPECT_EQ(left(logName), fault.left);
    const auto logged = lines(readFile(userLogs() / logName));
    ASSERT_FALSE(logged.empty());
    if (fault.removed) {
        const std::string removal = "Successfully removed directory: '" + userLogs().string() + "/";
        std::set<std::string> removed;
        for (const auto& line : logged) {
            if (const auto at = line.find(removal); at != std::string::npos) {
                removed.insert(
                    line.substr(at + removal.size(), line.size() - at - removal.size() - 1));
            }
        }
        EXPECT_EQ(removed, *fault.removed);
    }
    const std::string stamp = logged[0].substr(0, 20);  // "[YYYY-mm-dd HH:MM:SS"
    EXPECT_LE(local("[{:%Y-%m-%d %H:%M:%S}", before), stamp);
    EXPECT_GE(local("[{:%Y-%m-%d %H:%M:%S}", after), stamp);
    EXPECT_EQ(logged[0].substr(24, 7), "+05:45]") << logged[0];
}

// Two branches beneath top, each forking again beneath a chain longer than the
// window of open directories, the forks as deep: whatever the listing order,
// levels leave the window with more to list, and the way back up meets them.
std::vector<std::string> forks() {
    std::string chain;
    for (int level = 0; level < 65; ++level) {
        chain += "d/";
    }
    std::vector<std::string> layout;
    for (const char* branch : {"a/", "b/"}) {
        for (const char* fork : {"p/", "q/"}) {
            layout.push_back("data/public/Logs/top/" + (branch + chain) + "mid/" + fork + chain +
                             "old.log");
        }
    }
    return layout;
}
const std::vector<std::string> kForksStopped{"data/public/Logs/top/",     "data/public/Logs/top/a/",
                                             "data/public/Logs/top/a/d/", "data/public/Logs/top/b/",
                                             "data/public/Logs/top/b/d/", "suite/logs/old.log"};
const std::string kNoParent =
    "LOGREAP_FAULT_NO_PARENT=1";  // levels left behind are reopened by name

const InjectedFault kFaults[] = {
    {.name = "SubdirectoryTakenAwayBeforeItIsOpened",
     .layout = {"data/public/Logs/gone/old.log", "data/public/Logs/sibling/old.log"},
     .arming = {"LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=gone",
                "LOGREAP_FAULT_MOVE_TO=../moved"},
     .left = {"moved/", "moved/old.log"}},
    {.name = "EntryGoneBeforeItsStatusIsRead",
     .layout = {"suite/logs/sub/gone.log", "suite/logs/sub/old.log"},
     .arming = {"LOGREAP_FAULT_CALL=fstatat", "LOGREAP_FAULT_NAME=gone.log",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(ENOENT)},
     .left = {"suite/logs/sub/", "suite/logs/sub/gone.log"}},
    {.name = "ListingThatCannotBeRead",
     .layout = {"data/public/Logs/broken/old.log", "data/public/Logs/empty/"},
     .arming = {"LOGREAP_FAULT_CALL=getdents64", "LOGREAP_FAULT_NAME=broken",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(EIO)},
     .status = 2,
     .error = "logreap: error: filesystem error: cannot increment recursive directory "
              "iterator: Input/output error\n",
     .left = {"data/public/Logs/broken/", "data/public/Logs/broken/old.log",
              "data/public/Logs/empty/", "suite/logs/old.log"}},
    {.name = "ChainDeeperThanTheDescriptorLimit",
     .layout = {"suite/logs/chain/old.log"},
     .chain = 5000,
     .fileLimit = 256},
    {.name = "LinkWhoseTargetMayNotBeExamined",
     .layout = {"data/public/Logs/link -> sub", "data/public/Logs/sub/old.log"},
     .arming = {"LOGREAP_FAULT_CALL=fstatat", "LOGREAP_FAULT_NAME=link",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(EACCES)},
     .status = 2,
     .error = "logreap: error: filesystem error: status: Permission denied "
              "[{root}/data/public/Logs/link]\n",
     .left = {"data/public/Logs/link", "data/public/Logs/sub/", "suite/logs/old.log"}},
    {.name = "LevelBeyondTheWindowThatCannotBeReopened",
     .layout = forks(),
     .arming = {"LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=[ab]", "LOGREAP_FAULT_NTH=2",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(EACCES), kNoParent},
     .status = 2,
     .error = "logreap: error: filesystem error: cannot increment recursive directory "
              "iterator: Permission denied\n",
     .left = kForksStopped},
    {.name = "ListingThatFailsWhileReadAhead",
     .layout = forks(),
     .arming = {"LOGREAP_FAULT_CALL=getdents64", "LOGREAP_FAULT_NAME=top", "LOGREAP_FAULT_NTH=4",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(EIO)},
     .status = 2,
     .error = "logreap: error: filesystem error: cannot increment recursive directory "
              "iterator: Input/output error\n",
     .left = kForksStopped},
    {.name = "LevelGoneBeneathALevelReopenedInPassing",
     .layout = forks(),
     .arming = {"LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=[ab]", "LOGREAP_FAULT_NTH=2",
                "LOGREAP_FAULT_MOVE_TO=../moved", kNoParent},
     .left = {"moved/", "moved/d/", "moved/d/d/", "moved/d/d/d/", "moved/d/d/d/d/",
              "moved/d/d/d/d/d/"}},
    {.name = "WayDownGoneBeforeARemoval",
     .layout = {"data/public/Logs/w/t/u/v/", "data/public/Logs/w/x/y/"},
     .arming = {"LOGREAP_FAULT_CALL=unlinkat", "LOGREAP_FAULT_NAME=v",
                "LOGREAP_FAULT_MOVE_FROM=../data/public/Logs/w/x",
                "LOGREAP_FAULT_MOVE_TO=../moved"},
     .left = {"moved/", "moved/y/"},
     .removed = {{"w", "w/t", "w/t/u", "w/t/u/v", "w/x", "w/x/y"}}},
    {.name = "WayDownBlockedByALink",
     .layout = {"data/public/Logs/w/t/u/v/", "data/public/Logs/w/x/y/"},
     .arming = {"LOGREAP_FAULT_CALL=unlinkat", "LOGREAP_FAULT_NAME=v",
                "LOGREAP_FAULT_MOVE_FROM=../data/public/Logs/w/x", "LOGREAP_FAULT_MOVE_TO=../moved",
                "LOGREAP_FAULT_LINK=1"},
     .left = {"moved/", "moved/y/"},
     .removed = {{"w", "w/t", "w/t/u", "w/t/u/v", "w/x"}}},
    {.name = "SubdirectoryThatBecameALink",
     .layout = {"data/public/Logs/sub/old.log"},
     .arming = {"LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=sub",
                "LOGREAP_FAULT_MOVE_TO=../moved", "LOGREAP_FAULT_LINK=1"},
     .left = {"moved/", "moved/old.log"}},
    {.name = "ListingWithoutTypes",  // a link is never opened, as a directory would be
     .layout = {"data/public/Logs/ln -> ../../../outside", "outside/old.log",
                "data/public/Logs/sub/old.log"},
     .arming = {"LOGREAP_FAULT_UNTYPED=Logs", "LOGREAP_FAULT_CALL=openat", "LOGREAP_FAULT_NAME=ln",
                "LOGREAP_FAULT_ERRNO=" + std::to_string(EIO)},
     .left = {"outside/", "outside/old.log"}},
};
INSTANTIATE_TEST_SUITE_P(Shim, InjectedFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return info.param.name; });

}  // namespace
