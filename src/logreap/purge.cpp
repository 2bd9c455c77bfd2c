#include "purge.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <spdlog/spdlog.h>

#include "Logger.hpp"
#include "detail/DirectoryChain.hpp"
#include "detail/DisplayText.hpp"
#include "detail/FileTree.hpp"
#include "detail/PurgeDetail.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace norvane::abap {
namespace {

using detail::CollectedDirectory;
using filetree::Directory;
using filetree::DirectoryChain;
using filetree::Kind;
using filetree::ListedEntry;
using filetree::NativeString;

constexpr auto kSeparator = fs::path::preferred_separator;

// The registered logger, or one without sinks so that a purge without a logger
// still does its work but writes nowhere.
std::shared_ptr<spdlog::logger> purgeLogger() {
    if (auto logger = spdlog::get(kLoggerName)) {
        return logger;
    }
    return std::make_shared<spdlog::logger>(kLoggerName);
}

// Entries' paths as messages show them: the purge directory as given, then
// the names beneath it, in one buffer that each message reuses. The
// directory's part is joined once, as path's operator/ joins it, instead of
// parsing the whole path again for every message. Wide paths are shown by
// their own UTF-16 rule, so that no name fails a message.
class ShownPaths {
  public:
    explicit ShownPaths(const fs::path& directory) : prefix_((directory / "-").native()) {
        prefix_.pop_back();
    }

    // Valid until the next call.
    std::string_view operator()(const NativeString& relative) {
        shown_.clear();
        joined_.assign(prefix_).append(relative);
        appendDisplayText(shown_, filetree::NativeName(joined_));
        return shown_;
    }

  private:
    NativeString prefix_;  // the directory and the separator that operator/ adds
    NativeString joined_;
    std::string shown_;
};

// The identity of the file that the logger's daily sink is writing now, if it
// has one. Removing it would send the rest of the run's messages to an
// unlinked file. An unknown identity (a file system without file ids) would
// spare every file of its volume: then none is spared. On Windows the sink's
// own handle, which shares no deletion, keeps the file all the same.
std::optional<filetree::FileIdentity> ownLogFile(const spdlog::logger& logger) {
    if (const auto file = currentLogFile(logger)) {
        const auto status = filetree::statusOf(*file);
        if (!status.error && status.value.kind == Kind::regular && status.value.identity.known()) {
            return status.value.identity;
        }
    }
    return std::nullopt;
}

[[noreturn]] void throwIncrementError(const std::error_code& ec) {
    throw fs::filesystem_error("cannot increment recursive directory iterator", ec);
}

// Walks the tree beneath `root` depth first, in the order of each listing,
// every subdirectory right after its own entry; only real directories are
// descended into. `visit` gets the listing's directory, the entry, its path
// relative to the root, its depth (1 for the root's entries) and what `visit`
// returned for the directory being listed (kNoParent at the root); what it
// returns is kept for the entry, should the walk descend into it. An entry or
// directory that is gone by the time the walk reaches it is passed over.
template <class Visit>
void walkTree(Directory& root, Visit&& visit) {
    DirectoryChain chain(root);
    std::vector<std::size_t> pathLengths;  // of each level's relative path
    std::vector<std::size_t> marks;        // what `visit` returned for each level
    NativeString relative;
    for (;;) {
        const std::size_t depth = chain.depth();
        pathLengths.resize(depth);  // shorter where the chain was cut
        marks.resize(depth);
        relative.resize(depth == 0 ? 0 : pathLengths.back());
        const auto listed = chain.next();
        if (listed.error) {
            throwIncrementError(listed.error);
        }
        if (!listed.value) {
            if (depth == 0) {
                return;
            }
            chain.pop();
            continue;
        }
        const auto reached = chain.deepest();
        if (reached.error) {
            throwIncrementError(reached.error);
        }
        if (reached.value.directory == nullptr) {
            continue;  // the listed directory is gone: the rest of its listing with it
        }
        const ListedEntry& entry = *listed.value;
        if (!relative.empty()) {
            relative += kSeparator;
        }
        relative.append(entry.name);
        const std::size_t mark =
            visit(*reached.value.directory, entry, std::as_const(relative), depth + 1,
                  depth == 0 ? CollectedDirectory::kNoParent : marks.back());
        if (entry.kind == Kind::directory) {
            const auto pushed = chain.push(entry.name);
            if (pushed.error) {
                throwIncrementError(pushed.error);
            }
            if (pushed.value == Kind::directory) {
                pathLengths.push_back(relative.size());
                marks.push_back(mark);
            }
        }
    }
}

void deleteOldFiles(const fs::path& directory, Clock::time_point cutoff, spdlog::logger& logger) {
    auto root = Directory::open(directory);
    if (root.error) {
        throw fs::filesystem_error("recursive directory iterator cannot open directory", directory,
                                   root.error);
    }
    const auto ownLog = ownLogFile(logger);
    ShownPaths shownPath(directory);
    walkTree(root.value, [&](const Directory& parent, const ListedEntry& entry,
                             const NativeString& relative, std::size_t, std::size_t) {
        // The status of a real directory or a pipe reads no regular file: not
        // asked. A link's kind is its target's.
        if (entry.kind == Kind::directory || entry.kind == Kind::special) {
            return std::size_t{0};
        }
        const auto status = parent.status(entry.name);
        // No readable status (gone, a broken link, access denied): passed over.
        if (status.error || status.value.kind != Kind::regular ||
            !(status.value.lastWrite < cutoff)) {
            return std::size_t{0};
        }
        if (logger.should_log(spdlog::level::debug)) {
            SPDLOG_LOGGER_DEBUG(&logger, "Deleting log file: {}", shownPath(relative));
        }
        if (status.value.identity != ownLog) {
            (void)parent.removeFile(entry.name,
                                    {status.value.identity, cutoff});  // outcome disregarded
        }
        return std::size_t{0};
    });
}

std::vector<CollectedDirectory> collectDirectories(const fs::path& directory, Directory& root) {
    std::vector<CollectedDirectory> directories;
    walkTree(root, [&](const Directory& parent, const ListedEntry& entry,
                       const NativeString& relative, std::size_t depth, std::size_t holder) {
        const auto status = parent.status(entry.name);
        if (status.error) {
            throw fs::filesystem_error("status", directory / relative, status.error);
        }
        const bool isDirectory = status.value.kind == Kind::directory;
        // A directory the walk enters is kept even when its status says
        // otherwise by now, as the holder of what lies beneath it.
        if (!isDirectory && entry.kind != Kind::directory) {
            return CollectedDirectory::kNoParent;
        }
        directories.push_back({holder, depth, NativeString(entry.name), isDirectory});
        return directories.size() - 1;
    });
    return directories;
}

// The way down from the purge directory to the parent of the directory being
// removed, kept from one removal to the next: the removal order makes
// neighbours share most of the way.
class WayDown {
  public:
    WayDown(Directory& root, const std::vector<CollectedDirectory>& directories)
        : chain_(root), directories_(directories) {}

    // The open parent of directories[index]. None where the way is cut: by a
    // directory that is gone (Kind::gone; the directory to remove went with
    // it), or by a link, a file or another directory in its place.
    filetree::Result<DirectoryChain::Reached> parentOf(std::size_t index) {
        const std::size_t targetDepth = directories_[index].depth - 1;
        while (chain_.depth() > targetDepth) {
            leave();
        }
        // The directories on the way that the chain does not hold yet, deepest first.
        missing_.clear();
        std::size_t step = directories_[index].parent;
        for (std::size_t depth = targetDepth; depth > chain_.depth(); --depth) {
            missing_.push_back(step);
            step = directories_[step].parent;
        }
        while (!steps_.empty() && steps_.back() != step) {
            leave();
            missing_.push_back(step);
            step = directories_[step].parent;
        }
        for (auto next = missing_.rbegin(); next != missing_.rend(); ++next) {
            const auto reached = reach();
            if (reached.error || reached.value.directory == nullptr) {
                return reached;
            }
            const auto pushed = chain_.push(directories_[*next].name);
            if (pushed.error || pushed.value != Kind::directory) {
                return {{nullptr, pushed.value}, pushed.error};
            }
            steps_.push_back(*next);
        }
        return reach();
    }

  private:
    void leave() {
        chain_.pop();
        steps_.pop_back();
    }
    filetree::Result<DirectoryChain::Reached> reach() {
        auto reached = chain_.deepest();
        steps_.resize(chain_.depth());  // shorter where the chain was cut
        return reached;
    }

    DirectoryChain chain_;
    const std::vector<CollectedDirectory>& directories_;
    std::vector<std::size_t> steps_;  // the directory at each level of the chain
    std::vector<std::size_t> missing_;
};

std::error_code removeCollected(WayDown& way, const std::vector<CollectedDirectory>& directories,
                                std::size_t index) {
    const auto parent = way.parentOf(index);
    if (parent.error) {
        return parent.error;
    }
    if (parent.value.directory != nullptr) {
        return parent.value.directory->removeDirectory(directories[index].name).error;
    }
    // Gone with the way down, it counts as removed; the way blocked, it stays.
    return parent.value.kind == Kind::gone ? std::error_code()
                                           : std::make_error_code(std::errc::not_a_directory);
}

// Removal refuses a directory that still holds entries; that refusal is the
// emptiness test.
void removeEmptyDirectories(const fs::path& directory, Directory& root,
                            const std::vector<CollectedDirectory>& directories,
                            spdlog::logger& logger) {
    const bool logging = logger.should_log(spdlog::level::debug);
    ShownPaths shownPath(directory);
    WayDown way(root, directories);
    for (const std::size_t index : detail::removalOrder(directories)) {
        if (logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Trying to remove directory '{}' if empty.",
                                shownPath(detail::relativePath(directories, index)));
        }
        const std::error_code ec = removeCollected(way, directories, index);
        if (!ec && logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Successfully removed directory: '{}'",
                                shownPath(detail::relativePath(directories, index)));
        }
    }
}

}  // namespace

std::vector<std::size_t> detail::removalOrder(const std::vector<CollectedDirectory>& directories) {
    std::vector<std::size_t> order;
    order.reserve(directories.size());
    for (std::size_t index = 0; index < directories.size(); ++index) {
        if (directories[index].removable) {
            order.push_back(index);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return directories[a].depth > directories[b].depth;
    });
    return order;
}

NativeString detail::relativePath(const std::vector<CollectedDirectory>& directories,
                                  std::size_t index) {
    std::vector<const NativeString*> names;
    for (std::size_t at = index; at != CollectedDirectory::kNoParent; at = directories[at].parent) {
        names.push_back(&directories[at].name);
    }
    NativeString relative;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!relative.empty()) {
            relative += kSeparator;
        }
        relative += **name;
    }
    return relative;
}

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
    // A tree that cannot be opened a second time has no directory removed.
    auto root = Directory::open(directory);
    if (root.error) {
        return;
    }
    const auto directories = collectDirectories(directory, root.value);
    removeEmptyDirectories(directory, root.value, directories, *logger);
}

void pruneLogDirectory(const fs::path& directory, std::int32_t retentionDays) {
    const auto status = filetree::statusOf(directory);
    if (status.error) {
        throw fs::filesystem_error("status", directory, status.error);
    }
    if (status.value.kind != Kind::directory) {
        return;
    }
    deleteLogFiles(directory, purgeCutoff(Clock::now(), retentionDays));
}

}  // namespace norvane::abap
