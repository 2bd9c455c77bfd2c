// The purge against its algorithm written plainly on std::filesystem, both run
// unprivileged on the same random trees (old and young files; links to files,
// directories, nothing and themselves; awkward and overlong names; directories
// that may not be read, searched or written): messages, error and remains agree.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <ranges>
#include <sstream>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "Purge.hpp"
#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using namespace logreap::test;

namespace {

// Two walks without options, ages and kinds read through links, removals
// that do not throw, directories deepest first.
void referencePurge(const fs::path& root, std::int32_t retentionDays) {
    auto& log = *spdlog::get("logreap");
    const auto cutoff = std::chrono::system_clock::now() - std::chrono::days{retentionDays};
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto written = fs::last_write_time(entry.path(), ec);
        if (!ec && fs::is_regular_file(fs::status(entry.path())) &&
            std::chrono::file_clock::to_sys(written) < cutoff) {
            log.debug("Deleting log file: {}", entry.path().string());
            fs::remove(entry.path(), ec);
        }
    }
    std::vector<fs::path> directories;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
        if (fs::is_directory(fs::status(entry.path()))) {
            directories.push_back(entry.path());
        }
    }
    std::ranges::sort(directories, std::greater{},
                      [](const fs::path& path) { return std::distance(path.begin(), path.end()); });
    for (const auto& directory : directories) {
        log.debug("Trying to remove directory '{}' if empty.", directory.string());
        if (fs::remove(directory, ec); !ec) {
            log.debug("Successfully removed directory: '{}'", directory.string());
        }
    }
}

// The same random tree for the same seed, handed to `owner` where one is
// given, its directories' modes set last, deepest first.
void grow(const fs::path& root, unsigned seed, std::optional<unsigned> owner) {
    using P = fs::perms;
    static const std::string prefixes[] = {"..", "...", "a b ", "\xc3\xa4\xe2\x82\xac", "x"};
    const P readOnly = P::owner_read | P::owner_exec;
    const P modes[] = {P::none, P::owner_read | P::owner_write, readOnly, readOnly, readOnly};
    std::mt19937 random(seed);
    const auto pick = [&random](std::size_t n) { return random() % n; };
    std::vector<std::pair<fs::path, unsigned>> directories{{root, 0}};
    std::vector<fs::path> targets{root / "nothing"};
    std::vector<std::pair<fs::path, P>> restricted;
    std::vector<int> holds{0};  // per directory: entries, or -1 once it holds a directory
    for (unsigned i = 0, count = 15 + pick(30); i < count; ++i) {
        const std::size_t at = pick(directories.size());
        const auto [parent, depth] = directories[at];
        holds[at] = holds[at] < 0 ? -1 : holds[at] + 1;
        std::string name = prefixes[pick(std::size(prefixes))] + std::to_string(i);
        name.resize(pick(10) == 0 ? 255 : name.size(), 'n');
        const fs::path path = parent / name;
        const auto kind = pick(20);
        if (kind < 10 || (kind < 15 && depth == 5)) {
            writeFile(path, "x\n");
            setAge(path, kind < 6 ? kOld : std::chrono::hours{1});
        } else if (kind < 15) {
            fs::create_directory(path);
            directories.emplace_back(path, depth + 1);
            holds[at] = -1;
            holds.push_back(0);
            if (const auto mode = pick(40); mode < std::size(modes)) {
                restricted.emplace_back(path, modes[mode]);
            }
        } else if (kind == 19) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // listed as neither file nor directory
        } else {
            fs::create_symlink(pick(40) == 0 ? path : targets[pick(targets.size())], path);
        }
        targets.push_back(path);
    }
    // Every third tree has a folder of files that may be listed but not
    // searched: only the second walk's status query can tell.
    for (std::size_t at = 1; seed % 3 == 0 && at < holds.size(); ++at) {
        if (holds[at] > 0) {
            restricted.emplace_back(directories[at].first, P::owner_read | P::owner_write);
            break;
        }
    }
    if (owner) {
        chownTree(root, *owner);
    }
    for (const auto& [path, mode] : std::views::reverse(restricted)) {
        fs::permissions(path, mode);
    }
}

// The messages and the error, the root shown as "~"; runs of deletions, and
// of directory messages of one depth, sorted: their order is the listing's.
std::string outcome(void (*purge)(const fs::path&, std::int32_t), const fs::path& root) {
    std::ostringstream messages;
    auto log = std::make_shared<spdlog::logger>(
        "logreap", std::make_shared<spdlog::sinks::ostream_sink_st>(messages));
    log->set_pattern("%v");
    log->set_level(spdlog::level::debug);
    spdlog::drop("logreap");
    spdlog::register_logger(log);
    try {
        purge(root, 14);
        messages << "no error\n";
    } catch (const fs::filesystem_error& error) {
        messages << error.what() << '\n';
    }
    std::vector<std::pair<int, std::string>> ordered;  // (run, line)
    std::string runKey;
    for (auto line : lines(messages.str())) {
        for (std::size_t at; (at = line.find(root.native())) != std::string::npos;) {
            line.replace(at, root.native().size(), "~");
        }
        const bool directory = line.starts_with("Trying") || line.starts_with("Successfully");
        const std::string key = directory ? std::to_string(std::ranges::count(line, '/'))
                                : line.starts_with("Deleting") ? ""
                                                               : line;
        ordered.emplace_back(ordered.empty() ? 0 : ordered.back().first + (key != runKey), line);
        runKey = key;
    }
    std::ranges::sort(ordered);
    std::string result;
    for (const auto& [run, line] : ordered) {
        result += line + '\n';
    }
    return result;
}

// What is left beneath `root`, directories marked "/" and links "@".
std::vector<std::string> remains(const fs::path& root) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (const auto& entry :
         fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied)) {
        const auto type = entry.symlink_status(ec).type();
        entries.push_back(entry.path().lexically_relative(root).string() +
                          (type == fs::file_type::directory ? "/" : "") +
                          (type == fs::file_type::symlink ? "@" : ""));
    }
    std::ranges::sort(entries);
    return entries;
}

TEST(Differential, PurgeAgreesWithTheAlgorithmOnStdFilesystem) {
    const auto user = ::geteuid() == 0 ? std::optional(unprivilegedUid()) : std::nullopt;
    const TempTree results;  // where the unprivileged child writes
    if (user) {
        chownTree(results.root(), *user);
    }
    for (unsigned seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const TempTree purged, reference;
        grow(purged.root(), seed, user);
        grow(reference.root(), seed, user);
        const pid_t child = ::fork();
        if (child == 0) {
            if (user &&
                (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) {
                ::_exit(127);
            }
            writeFile(results / "reference", outcome(referencePurge, reference.root()));
            writeFile(results / "purged", outcome(norvane::abap::pruneLogDirectory, purged.root()));
            ::_exit(0);
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(readFile(results / "purged"), readFile(results / "reference"));
        EXPECT_EQ(remains(purged.root()), remains(reference.root()));
    }
}

}  // namespace
