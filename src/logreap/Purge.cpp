#include "Purge.hpp"

#include <algorithm>
#include <deque>
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

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace norvane::abap {
namespace {

using filetree::Directory;
using filetree::DirectoryChain;
using filetree::Kind;
using filetree::ListedEntry;
using filetree::NativeString;

constexpr auto kSeparator = fs::path::preferred_separator;
constexpr std::size_t kNoParent = DirectoryChain::kNoIndex;  // the purge directory

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

// A directory met by the walk, kept as its own name and the index of the
// directory that holds it, so that the list costs memory in proportion to its
// names, however deep the tree. The walk adds each directory before the ones
// beneath it.
struct CollectedDirectory {
    std::size_t parent = kNoParent;
    std::size_t depth = 1;  // names beneath the purge directory
    NativeString name;
    bool removable = true;  // false for one walked into but no directory by its status
};

// Grown in blocks rather than by reallocation, which holds the old copy and
// the new one at once: that was the purge's peak of memory on large trees.
using CollectedDirectories = std::deque<CollectedDirectory>;

// The walk over the tree beneath the purge directory, depth first, in the
// order of each listing, every subdirectory right after its own entry; only
// real directories are entered. It deletes the old files and collects the
// directories for the removal pass. An entry or directory that is gone by the
// time the walk reaches it is passed over.
class Walk {
  public:
    Walk(const fs::path& directory, Clock::time_point cutoff, spdlog::logger& logger)
        : directory_(directory),
          cutoff_(cutoff),
          logger_(logger),
          logging_(logger.should_log(spdlog::level::debug)),
          ownLog_(ownLogFile(logger)),
          shownPath_(directory) {}

    // The directories beneath `root`. A status that could not be read (other
    // than of an entry gone) is raised once the walk is over, the first one
    // met: every old file is gone by then, no directory is removed.
    CollectedDirectories run(Directory& root) {
        DirectoryChain chain(root);
        for (;;) {
            const auto listed = chain.next();
            if (listed.error) {
                throwIncrementError(listed.error);
            }
            if (!listed.value) {
                if (chain.depth() == 0) {
                    break;
                }
                chain.pop();
                continue;
            }
            const auto reached = chain.deepest();
            if (reached.error) {
                throwIncrementError(reached.error);
            }
            if (reached.value.directory != nullptr) {
                visit(chain, *reached.value.directory, *listed.value);
            }  // else the listed directory is gone: the rest of its listing with it
        }
        if (statusFailure_) {
            throw fs::filesystem_error("status", directory_ / statusFailure_->first,
                                       statusFailure_->second);
        }
        return std::move(directories_);
    }

  private:
    void visit(DirectoryChain& chain, const Directory& parent, const ListedEntry& entry) {
        DirectoryChain::Mark& here = chain.mark();
        relative_.resize(here.pathLength);
        if (!relative_.empty()) {
            relative_ += kSeparator;
        }
        relative_.append(entry.name);

        // The listing tells a real directory or a pipe, whose status reads no
        // regular file: its age is not asked. A link's kind is its target's.
        const bool asksAge = entry.kind != Kind::directory && entry.kind != Kind::special;
        // Whether the entry's kind needs a status query of its own. Where the
        // listing answers, only the search permission on the directory could
        // fail the query, and the first query in it shows that.
        const bool asksKind = !filetree::kListingAnswersForStatus || !here.answered ||
                              entry.kind == Kind::link || entry.kind == Kind::unknown;
        Kind kind = entry.kind;
        if (asksAge || asksKind) {
            const auto status = parent.status(entry.name);
            if (status.error) {
                kind = Kind::unknown;
                if (asksKind && !statusFailure_) {
                    statusFailure_.emplace(relative_, status.error);
                }
            } else {
                here.answered = true;
                kind = status.value.kind;
                if (asksAge && kind == Kind::regular && status.value.lastWrite < cutoff_) {
                    deleteFile(parent, entry.name, status.value);
                }
            }
        }
        // A directory the walk enters is kept even when its status says
        // otherwise by now, as the holder of what lies beneath it.
        if (kind != Kind::directory && entry.kind != Kind::directory) {
            return;
        }
        directories_.push_back(
            {here.index, chain.depth() + 1, NativeString(entry.name), kind == Kind::directory});
        if (entry.kind == Kind::directory) {
            const auto pushed = chain.push(entry.name, {directories_.size() - 1, relative_.size()});
            if (pushed.error) {
                throwIncrementError(pushed.error);
            }
        }
    }

    void deleteFile(const Directory& parent, filetree::NativeName name,
                    const filetree::Status& status) {
        if (logging_) {
            SPDLOG_LOGGER_DEBUG(&logger_, "Deleting log file: {}", shownPath_(relative_));
        }
        if (status.identity != ownLog_) {
            (void)parent.removeFile(name, {status.identity, cutoff_});  // outcome disregarded
        }
    }

    const fs::path& directory_;
    const Clock::time_point cutoff_;
    spdlog::logger& logger_;
    const bool logging_;
    const std::optional<filetree::FileIdentity> ownLog_;
    ShownPaths shownPath_;
    NativeString relative_;  // of the entry visited
    CollectedDirectories directories_;
    std::optional<std::pair<NativeString, std::error_code>> statusFailure_;
};

// The indices of the removable directories, deepest first, so that each parent
// comes after everything it contains. Among directories of one depth the
// walk's order decides, which keeps siblings together and lets the removal
// pass reuse the way down to their parent.
std::vector<std::size_t> removalOrder(const CollectedDirectories& directories) {
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

// The path of directories[index] relative to the purge directory.
NativeString relativePath(const CollectedDirectories& directories, std::size_t index) {
    std::vector<const NativeString*> names;
    for (std::size_t at = index; at != kNoParent; at = directories[at].parent) {
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

// The open parent of directories[index], the chain left at it: the chain
// leaves its levels down to the one the way shares, and enters the rest. None
// where the way is cut: by a directory that is gone (Kind::gone; the
// directory to remove went with it), or by a link, a file or another
// directory in its place.
filetree::Result<DirectoryChain::Reached> wayToParent(DirectoryChain& chain,
                                                      const CollectedDirectories& directories,
                                                      std::size_t index,
                                                      std::vector<std::size_t>& rest) {
    const std::size_t parentDepth = directories[index].depth - 1;
    while (chain.depth() > parentDepth) {
        chain.pop();
    }
    // The directories of the way beneath the common level, deepest first.
    rest.clear();
    std::size_t step = directories[index].parent;
    for (std::size_t depth = parentDepth; depth > chain.depth(); --depth) {
        rest.push_back(step);
        step = directories[step].parent;
    }
    while (chain.mark().index != step) {
        chain.pop();
        rest.push_back(step);
        step = directories[step].parent;
    }
    for (auto next = rest.rbegin(); next != rest.rend(); ++next) {
        const auto reached = chain.deepest();
        if (reached.error || reached.value.directory == nullptr) {
            return reached;
        }
        const auto pushed = chain.push(directories[*next].name, {*next});
        if (pushed.error || pushed.value != Kind::directory) {
            return {{nullptr, pushed.value}, pushed.error};
        }
    }
    return chain.deepest();
}

// Removal refuses a directory that still holds entries; that refusal is the
// emptiness test.
void removeEmptyDirectories(const fs::path& directory, Directory& root,
                            const CollectedDirectories& directories, spdlog::logger& logger) {
    const bool logging = logger.should_log(spdlog::level::debug);
    ShownPaths shownPath(directory);
    DirectoryChain chain(root);
    std::vector<std::size_t> rest;
    for (const std::size_t index : removalOrder(directories)) {
        if (logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Trying to remove directory '{}' if empty.",
                                shownPath(relativePath(directories, index)));
        }
        const auto parent = wayToParent(chain, directories, index, rest);
        // Gone with the way down, it counts as removed; the way blocked, it stays.
        bool removed = !parent.error && parent.value.kind == Kind::gone;
        if (!parent.error && parent.value.directory != nullptr) {
            removed = !parent.value.directory->removeDirectory(directories[index].name).error;
        }
        if (removed && logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Successfully removed directory: '{}'",
                                shownPath(relativePath(directories, index)));
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
    filetree::raiseOpenFileLimit();  // deep trees hold a directory open per level, up to a bound
    const auto logger = purgeLogger();
    auto root = Directory::open(directory);
    if (root.error) {
        throw fs::filesystem_error("recursive directory iterator cannot open directory", directory,
                                   root.error);
    }
    const auto directories = Walk(directory, cutoff, *logger).run(root.value);
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
