#pragma once

// A chain of open directories beneath a root, each a subdirectory of the one
// before it: the walk's way down to the directory it lists, or the removal
// pass's way down to the parent of the directory it removes. Each level
// carries the mark its user gives it when it enters the level.
//
// Depth costs no more than a bounded number of open handles. Only the deepest
// levels, up to a window, hold one; a level pushed out of the window first
// reads the rest of its listing into memory (where its listing was begun) and
// notes its identity. When the chain is cut back to it and its handle is
// needed again, it is opened as the parent of the level beneath it where the
// platform allows, or else by name from the root down, never following a
// link; either way it must be the directory it was. A level that is
// gone, or another directory by now, cuts the chain there: what lay beneath
// it is out of reach. The window narrows where the process runs out of
// descriptors anyway.
//
// Memory grows with depth only by each level's own name and mark.

#include <cstddef>
#include <optional>
#include <system_error>
#include <variant>
#include <vector>

#include "detail/FileTree.hpp"

namespace norvane::abap::filetree {

class DirectoryChain {
  public:
    static constexpr std::size_t kDefaultWindow = 64;
    static constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);

    // What the chain's user keeps for a level.
    struct Mark {
        std::size_t index = kNoIndex;  // of the level's directory in the user's own list
        std::size_t pathLength = 0;    // of the level's path relative to the root
        bool answered = false;         // whether a status query in it has been answered
    };

    // The chain starts at `root`, which stays open and outside the window.
    explicit DirectoryChain(Directory& root, std::size_t window = kDefaultWindow);

    // Levels beneath the root.
    std::size_t depth() const noexcept { return levels_.size(); }

    // The mark of the deepest level, or of the root at depth 0.
    Mark& mark() noexcept { return levels_.empty() ? rootMark_ : levels_.back().mark; }

    // Opens the subdirectory `name` of the deepest level without following a
    // link and, when it is a directory (Kind::directory), makes it the deepest
    // level, marked `mark`; otherwise gives what stands there. The deepest
    // level must be open (see deepest()).
    [[nodiscard]] Result<Kind> push(NativeName name, const Mark& mark);

    // Leaves the deepest level.
    void pop();

    // The next entry of the deepest level's listing, or none at its end: read
    // from its handle, or from what was read ahead when it left the window.
    // The name stays valid until the chain changes.
    [[nodiscard]] Result<std::optional<ListedEntry>> next();

    // The deepest level's open directory, reopened if it had left the window.
    // Where reopening finds a level gone (Kind::gone), or a link, a file or
    // another directory in its place, the chain is cut above that level and
    // no directory is given, only what stood there.
    struct Reached {
        const Directory* directory = nullptr;
        Kind kind = Kind::directory;
    };
    [[nodiscard]] Result<Reached> deepest();

  private:
    // A level's listing: not begun, read from its open handle, or read ahead.
    struct NotBegun {};
    struct OnHandle {};
    struct ReadAhead {
        struct Entry {
            NativeString name;
            Kind kind;
        };
        std::vector<Entry> entries;
        std::size_t at = 0;
        std::error_code error;  // the listing's failure, met after `entries`
    };

    struct Level {
        NativeString name;
        Mark mark;
        Directory directory;                   // closed while outside the window
        std::optional<FileIdentity> identity;  // noted when it left the window
        std::variant<NotBegun, OnHandle, ReadAhead> listing;
    };

    std::size_t openLevels() const noexcept { return levels_.size() - firstOpen_; }
    const Directory& parentOf(std::size_t at) const {
        return at == 0 ? root_ : levels_[at - 1].directory;
    }
    void leaveWindow();  // the shallowest open level
    Result<Reached> reopen();

    Directory& root_;
    Mark rootMark_;
    std::vector<Level> levels_;
    std::size_t firstOpen_ = 0;  // levels_[firstOpen_ ..] are open, the others closed
    std::size_t window_;
};

}  // namespace norvane::abap::filetree
