// The purge against its algorithm written plainly on libstdc++'s
// std::filesystem, on random trees of old and young files, links to files, to
// directories, to nothing and to themselves, awkward names and directories
// that may not be read, searched or written, both purged as an unprivileged
// user: messages, error and what is left must agree.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "purge.hpp"
#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using logreap::test::TempTree;

namespace {

constexpr int kRetentionDays = 14;

// Two walks without options, ages and kinds read through links, removals
// that do not throw, directories sorted by their number of path elements.
void referencePurge(const fs::path& root) {
    auto& log = *spdlog::get("logreap");
    const auto cutoff = Clock::now() - std::chrono::hours{24 * kRetentionDays};
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        const auto written = fs::last_write_time(it->path(), ec);
        if (!ec && fs::is_regular_file(fs::status(it->path())) &&
            std::chrono::file_clock::to_sys(written) < cutoff) {
            log.debug("Deleting log file: {}", it->path().string());
            fs::remove(it->path(), ec);
        }
    }
    std::vector<fs::path> directories;
    for (fs::recursive_directory_iterator it(root, ec), end; it != end; ++it) {
        if (fs::is_directory(fs::status(it->path()))) {
            directories.push_back(it->path());
        }
    }
    std::sort(directories.begin(), directories.end(), [](const fs::path& a, const fs::path& b) {
        return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
    });
    for (const auto& directory : directories) {
        log.debug("Trying to remove directory '{}' if empty.", directory.string());
        if (fs::remove(directory, ec); !ec) {
            log.debug("Successfully removed directory: '{}'", directory.string());
        }
    }
}

// Lays out the same random tree for the same seed; returns the directories
// whose modes are to be set once everything is in place.
std::vector<std::pair<fs::path, fs::perms>> grow(const fs::path& root, unsigned seed) {
    using P = fs::perms;
    static const std::vector<std::string> prefixes{"..", "...", "a b ", "\xc3\xa4\xe2\x82\xac",
                                                   "x"};
    const P readOnly = P::owner_read | P::owner_exec;
    const std::vector<P> modes{P::none, P::owner_read | P::owner_write, readOnly, readOnly,
                               readOnly};
    std::mt19937 random(seed);
    const auto pick = [&random](std::size_t n) { return random() % n; };
    std::vector<std::pair<fs::path, unsigned>> directories{{root, 0}};
    std::vector<fs::path> targets{root / "nothing"};
    std::vector<std::pair<fs::path, fs::perms>> restricted;
    for (unsigned i = 0, count = 15 + pick(30); i < count; ++i) {
        const auto [parent, depth] = directories[pick(directories.size())];
        std::string name = prefixes[pick(prefixes.size())] + std::to_string(i);
        name.resize(pick(10) == 0 ? 255 : name.size(), 'n');
        const fs::path path = parent / name;
        const auto kind = pick(20);
        if (kind < 10 || (kind < 15 && depth == 5)) {
            logreap::test::writeFile(path, "x\n");
            logreap::test::setAge(path, kind < 6 ? logreap::test::kOld : std::chrono::hours{1});
        } else if (kind < 15) {
            fs::create_directory(path);
            directories.emplace_back(path, depth + 1);
            if (const auto mode = pick(40); mode < modes.size()) {
                restricted.emplace_back(path, modes[mode]);
            }
        } else {
            fs::create_symlink(pick(40) == 0 ? path : targets[pick(targets.size())], path);
        }
        targets.push_back(path);
    }
    return restricted;
}

// The messages and the error with the root shown as "~"; runs of deletions,
// and of directory messages of one depth, sorted: their order is the
// listing's, or not defined.
std::string outcome(const std::function<void(const fs::path&)>& purge, const fs::path& root) {
    std::ostringstream messages;
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_st>(messages);
    sink->set_pattern("%v");
    spdlog::drop("logreap");
    spdlog::register_logger(std::make_shared<spdlog::logger>("logreap", sink));
    spdlog::get("logreap")->set_level(spdlog::level::debug);
    try {
        purge(root);
        messages << "no error\n";
    } catch (const fs::filesystem_error& error) {
        messages << error.what() << '\n';
    }
    std::vector<std::pair<std::string, std::string>> keyed;
    const std::string shown = root.string();
    for (auto line : logreap::test::lines(messages.str())) {
        for (auto at = line.find(shown); at != std::string::npos; at = line.find(shown)) {
            line.replace(at, shown.size(), "~");
        }
        const bool directory = line.starts_with("Trying") || line.starts_with("Successfully");
        keyed.emplace_back(directory ? std::to_string(std::count(line.begin(), line.end(), '/'))
                           : line.starts_with("Deleting") ? ""
                                                          : line,
                           line);
    }
    std::string result;
    for (auto run = keyed.begin(); run != keyed.end();) {
        const auto end =
            std::find_if(run, keyed.end(), [&](const auto& k) { return k.first != run->first; });
        std::sort(run, end);
        for (; run != end; ++run) {
            result += run->second + '\n';
        }
    }
    return result;
}

// What is left beneath `root`, directories marked "/" and links "@".
std::vector<std::string> remains(const fs::path& root) {
    std::vector<std::string> entries;
    const auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(root, options), end; it != end; ++it) {
        std::error_code ec;
        const auto type = it->symlink_status(ec).type();
        entries.push_back(it->path().lexically_relative(root).string() +
                          (type == fs::file_type::directory ? "/"
                           : type == fs::file_type::symlink ? "@"
                                                            : ""));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST(Differential, PurgeAgreesWithTheAlgorithmOnStdFilesystem) {
    const unsigned user = logreap::test::unprivilegedUid();
    const auto real = [](const fs::path& root) {
        norvane::abap::pruneLogDirectory(root, kRetentionDays);
    };
    const TempTree results;  // where the unprivileged child writes
    if (::geteuid() == 0) {
        logreap::test::chownTree(results.root(), user);
    }
    for (unsigned seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const TempTree purged, reference;
        for (const TempTree* tree : {&purged, &reference}) {
            auto restricted = grow(tree->root(), seed);
            if (::geteuid() == 0) {
                logreap::test::chownTree(tree->root(), user);
            }
            for (auto it = restricted.rbegin(); it != restricted.rend(); ++it) {
                fs::permissions(it->first, it->second);
            }
        }
        const pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) {
                ::_exit(127);
            }
            logreap::test::writeFile(results / "reference",
                                     outcome(referencePurge, reference.root()));
            logreap::test::writeFile(results / "purged", outcome(real, purged.root()));
            ::_exit(0);
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(logreap::test::readFile(results / "purged"),
                  logreap::test::readFile(results / "reference"));
        EXPECT_EQ(remains(purged.root()), remains(reference.root()));
    }
}

}  // namespace
