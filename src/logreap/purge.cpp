#include "purge.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <spdlog/spdlog.h>

#include "Logger.hpp"
#include "detail/DisplayText.hpp"
#include "detail/FileTree.hpp"
#include "detail/PurgeDetail.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace norvane::abap {
namespace {

using detail::CollectedDirectory;
using filetree::Directory;
using filetree::Listed;
using filetree::ListedEntry;
using filetree::NativeName;
using filetree::Type;
using NativeString = fs::path::string_type;

constexpr auto kSeparator = fs::path::preferred_separator;

// The registered logger, or one without sinks so that a purge without a logger
// still does its work but writes nowhere.
std::shared_ptr<spdlog::logger> purgeLogger() {
    if (auto logger = spdlog::get(kLoggerName)) {
        return logger;
    }
    return std::make_shared<spdlog::logger>(kLoggerName);
}

// An entry's path as messages show it: the purge directory as given, then the
// names beneath it.
std::string shownPath(const fs::path& directory, const NativeString& relative) {
    return displayText((directory / relative).string());
}

// The file that the logger's daily sink is writing now, if it has one. Removing
// it would send the rest of the run's messages to an unlinked file.
class OwnLogFile {
  public:
    explicit OwnLogFile(const spdlog::logger& logger) {
        if (const auto file = currentLogFile(logger)) {
            name_ = file->filename().native();
            identity_ = filetree::identityOf(*file);
        }
    }

    // Names are compared first: only a file of the same name is looked at again.
    bool is(const Directory& parent, NativeName name) const {
        return identity_ && name == name_ && parent.identity(name) == identity_;
    }

  private:
    NativeString name_;
    std::optional<filetree::FileIdentity> identity_;
};

[[noreturn]] void throwIncrementError(const std::error_code& ec) {
    throw fs::filesystem_error("cannot increment recursive directory iterator", ec);
}

// Walks the tree beneath `root` depth first, in the order of each listing,
// every subdirectory right after its own entry. `visit` gets the listing's
// directory, the entry, its path relative to the root and its depth (1 for the
// root's entries). Only real directories are descended into, each opened
// relative to its parent, so one descriptor is held per level.
template <class Visit>
void walkTree(Directory& root, Visit&& visit) {
    struct Level {
        Directory directory;
        std::size_t pathLength;
    };
    std::vector<Level> levels;
    NativeString relative;
    ListedEntry entry;
    std::error_code ec;
    for (;;) {
        Directory& current = levels.empty() ? root : levels.back().directory;
        relative.resize(levels.empty() ? 0 : levels.back().pathLength);
        if (!current.next(entry, ec)) {
            if (ec) {
                throwIncrementError(ec);
            }
            if (levels.empty()) {
                return;
            }
            levels.pop_back();
            continue;
        }
        if (!relative.empty()) {
            relative += kSeparator;
        }
        relative.append(entry.name);
        visit(std::as_const(current), entry, std::as_const(relative), levels.size() + 1);
        if (entry.kind == Listed::directory) {
            Directory child = current.openChild(entry.name, ec);
            if (ec) {
                throwIncrementError(ec);
            }
            if (child) {
                levels.push_back({std::move(child), relative.size()});
            }
        }
    }
}

void deleteOldFiles(const fs::path& directory, Clock::time_point cutoff, spdlog::logger& logger) {
    std::error_code ec;
    Directory root = Directory::open(directory, ec);
    if (ec) {
        throw fs::filesystem_error("recursive directory iterator cannot open directory", directory,
                                   ec);
    }
    const OwnLogFile ownLogFile(logger);
    walkTree(root, [&](const Directory& parent, const ListedEntry& entry,
                       const NativeString& relative, std::size_t) {
        std::error_code statusError;
        const auto status = parent.status(entry.name, statusError);
        // No readable status (gone, a broken link, access denied): passed over.
        if (statusError || status.type != Type::regular || !(status.lastWrite < cutoff)) {
            return;
        }
        if (logger.should_log(spdlog::level::debug)) {
            SPDLOG_LOGGER_DEBUG(&logger, "Deleting log file: {}", shownPath(directory, relative));
        }
        if (!ownLogFile.is(parent, entry.name)) {
            (void)parent.removeFile(entry.name);  // its outcome is disregarded
        }
    });
}

std::vector<CollectedDirectory> collectDirectories(const fs::path& directory, Directory& root) {
    std::vector<CollectedDirectory> directories;
    walkTree(root, [&](const Directory& parent, const ListedEntry& entry,
                       const NativeString& relative, std::size_t depth) {
        std::error_code ec;
        const auto status = parent.status(entry.name, ec);
        if (ec) {
            throw fs::filesystem_error("status", directory / relative, ec);
        }
        if (status.type == Type::directory) {
            directories.push_back({depth, relative});
        }
    });
    return directories;
}

// The directories from the purge directory down to the parent of the directory
// being removed, each opened relative to the one above without following a
// link. Kept from one removal to the next: the deepest-first order makes
// neighbours share most of the way.
class WayDown {
  public:
    explicit WayDown(const Directory& root) : root_(root) {}

    // The parent directory of `relative`, or null when the way is gone (`ec`
    // clear: the directory is gone too) or blocked by a link or a file.
    const Directory* parentOf(NativeName relative, std::error_code& ec) {
        ec.clear();
        const auto split = relative.rfind(kSeparator);
        const NativeName way = split == NativeName::npos ? NativeName() : relative.substr(0, split);
        std::size_t kept = 0;
        std::size_t at = 0;
        while (kept < steps_.size() && at < way.size()) {
            const auto end = std::min(way.find(kSeparator, at), way.size());
            if (way.substr(at, end - at) != steps_[kept].name) {
                break;
            }
            ++kept;
            at = end + 1;
        }
        steps_.resize(kept);
        while (at < way.size()) {
            const auto end = std::min(way.find(kSeparator, at), way.size());
            const NativeName name = way.substr(at, end - at);
            Directory next = current().openChild(name, ec);
            if (!next) {
                if (!ec) {
                    ec = std::make_error_code(std::errc::not_a_directory);
                } else if (filetree::isGone(ec)) {
                    ec.clear();
                }
                return nullptr;
            }
            steps_.push_back({NativeString(name), std::move(next)});
            at = end + 1;
        }
        return &current();
    }

  private:
    struct Step {
        NativeString name;
        Directory directory;
    };
    const Directory& current() const { return steps_.empty() ? root_ : steps_.back().directory; }

    const Directory& root_;
    std::vector<Step> steps_;
};

std::error_code removeCollected(WayDown& way, const NativeString& relative) {
    std::error_code ec;
    const Directory* parent = way.parentOf(relative, ec);
    if (parent == nullptr) {
        return ec;
    }
    const auto split = relative.rfind(kSeparator);
    return parent->removeDirectory(
        NativeName(relative).substr(split == NativeString::npos ? 0 : split + 1));
}

// Removal refuses a directory that still holds entries; that refusal is the
// emptiness test.
void removeEmptyDirectories(const fs::path& directory, const Directory& root,
                            const std::vector<CollectedDirectory>& directories,
                            spdlog::logger& logger) {
    const bool logging = logger.should_log(spdlog::level::debug);
    WayDown way(root);
    for (const auto& collected : directories) {
        if (logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Trying to remove directory '{}' if empty.",
                                shownPath(directory, collected.relative));
        }
        const std::error_code ec = removeCollected(way, collected.relative);
        if (!ec && logging) {
            SPDLOG_LOGGER_DEBUG(&logger, "Successfully removed directory: '{}'",
                                shownPath(directory, collected.relative));
        }
    }
}

}  // namespace

void detail::sortDeepestFirst(std::vector<CollectedDirectory>& directories) {
    std::sort(directories.begin(), directories.end(), [](const auto& a, const auto& b) {
        return a.depth != b.depth ? a.depth > b.depth : a.relative < b.relative;
    });
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
    std::error_code ec;
    Directory root = Directory::open(directory, ec);
    if (ec) {
        return;
    }
    auto directories = collectDirectories(directory, root);
    detail::sortDeepestFirst(directories);
    removeEmptyDirectories(directory, root, directories, *logger);
}

void pruneLogDirectory(const fs::path& directory, std::int32_t retentionDays) {
    std::error_code ec;
    const auto status = filetree::statusOf(directory, ec);
    if (ec) {
        throw fs::filesystem_error("status", directory, ec);
    }
    if (status.type != Type::directory) {
        return;
    }
    deleteLogFiles(directory, purgeCutoff(Clock::now(), retentionDays));
}

}  // namespace norvane::abap
