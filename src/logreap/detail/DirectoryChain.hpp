#pragma once

// A chain of open directories beneath a root, each a subdirectory of the one
// before it: the walk's way down to the directory it lists, or the removal
// pass's way down to the parent of the directory it removes.
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
// Memory grows with depth only by each level's own name.

#include <cstddef>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "detail/FileTree.hpp"

namespace norvane::abap::filetree {

class DirectoryChain {
  public:
    static constexpr std::size_t kDefaultWindow = 64;

    // The chain starts at `root`, which stays open and outside the window.
    explicit DirectoryChain(Directory& root, std::size_t window = kDefaultWindow);

    // Levels beneath the root.
    std::size_t depth() const noexcept { return levels_.size(); }

    // Opens the subdirectory `name` of the deepest level without following a
    // link and, when it is a directory, makes it the deepest level. The
    // deepest level must be open (see deepest()).
    Result<Kind> push(NativeName name);

    // Leaves the deepest level.
    void pop();

    // The next entry of the deepest level's listing, or none at its end: read
    // from its handle, or from what was read ahead when it left the window.
    // The name stays valid until the chain changes.
    Result<std::optional<ListedEntry>> next();

    // The deepest level's open directory, reopened if it had left the window.
    // Where reopening finds a level gone (Kind::gone) or changed (any other kind),
    // the chain is cut above that level and nothing is returned.
    struct Reached {
        const Directory* directory = nullptr;
        Kind kind = Kind::directory;
    };
    Result<Reached> deepest();

  private:
    struct ReadAhead {
        NativeString name;
        Kind kind;
    };
    struct Level {
        Level(NativeName entered, Directory opened) : name(entered), directory(std::move(opened)) {}

        NativeString name;
        Directory directory;                   // empty while outside the window
        std::optional<FileIdentity> identity;  // noted when it left the window
        bool listingBegun = false;
        bool readAhead = false;  // the rest of the listing is in `rest`
        std::vector<ReadAhead> rest;
        std::size_t restAt = 0;
        std::error_code restError;  // the listing's failure, met after `rest`
    };

    std::size_t openLevels() const noexcept { return levels_.size() - firstOpen_; }
    void leaveWindow();  // the shallowest open level
    Result<Reached> reopen();
    Directory& deepestOpen() { return levels_.empty() ? root_ : levels_.back().directory; }

    Directory& root_;
    std::vector<Level> levels_;
    std::size_t firstOpen_ = 0;  // levels_[firstOpen_ ..] are open
    std::size_t window_;
};

}  // namespace norvane::abap::filetree
