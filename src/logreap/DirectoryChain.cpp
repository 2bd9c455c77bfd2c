#include "detail/DirectoryChain.hpp"

#include <algorithm>
#include <cassert>

namespace norvane::abap::filetree {
namespace {

bool outOfDescriptors(const std::error_code& ec) {
    return ec == std::errc::too_many_files_open || ec == std::errc::too_many_files_open_in_system;
}

}  // namespace

DirectoryChain::DirectoryChain(Directory& root, std::size_t window)
    : root_(root), window_(std::max<std::size_t>(window, 1)) {}

Result<Kind> DirectoryChain::push(NativeName name) {
    assert(deepestOpen());
    for (;;) {
        auto child = deepestOpen().openChild(name);
        // The limit can be lower than the window assumes: give up handles of
        // shallower levels rather than fail, down to the one opened from.
        if (outOfDescriptors(child.error) && openLevels() > 1) {
            window_ = openLevels() - 1;
            leaveWindow();
            continue;
        }
        if (child.error || child.value.kind != Kind::directory) {
            return {child.value.kind, child.error};
        }
        levels_.emplace_back(name, std::move(child.value.directory));
        if (openLevels() > window_) {
            leaveWindow();
        }
        return {Kind::directory, {}};
    }
}

void DirectoryChain::pop() {
    assert(!levels_.empty());
    const Directory left = std::move(levels_.back().directory);
    levels_.pop_back();
    firstOpen_ = std::min(firstOpen_, levels_.size());
    // Back up at a level outside the window: the parent of the directory
    // just left is that level, if it is still the directory it was. This
    // spares reopening the whole way from the root each time.
    if (left && !levels_.empty() && !levels_.back().directory && levels_.back().identity) {
        auto parent = left.openParent();
        if (!parent.error && parent.value) {
            const auto identity = parent.value.identity();
            if (!identity.error && identity.value == *levels_.back().identity) {
                levels_.back().directory = std::move(parent.value);
                firstOpen_ = levels_.size() - 1;
            }
        }
    }
}

Result<std::optional<ListedEntry>> DirectoryChain::next() {
    if (levels_.empty()) {
        return root_.next();
    }
    Level& level = levels_.back();
    if (!level.readAhead) {
        level.listingBegun = true;
        return level.directory.next();
    }
    if (level.restAt < level.rest.size()) {
        const ReadAhead& entry = level.rest[level.restAt++];
        return {ListedEntry{entry.name, entry.kind}, {}};
    }
    return {std::nullopt, std::exchange(level.restError, {})};
}

Result<DirectoryChain::Reached> DirectoryChain::deepest() {
    if (levels_.empty() || levels_.back().directory) {
        return {{&deepestOpen(), Kind::directory}, {}};
    }
    return reopen();
}

void DirectoryChain::leaveWindow() {
    Level& level = levels_[firstOpen_];
    if (level.listingBegun && !level.readAhead) {
        for (;;) {
            auto entry = level.directory.next();
            if (entry.error) {
                level.restError = entry.error;
            }
            if (!entry.value) {
                break;
            }
            level.rest.push_back({NativeString(entry.value->name), entry.value->kind});
        }
        level.readAhead = true;
    }
    auto identity = level.directory.identity();
    if (!identity.error) {
        level.identity = identity.value;  // without it the level cannot be reopened
    }
    level.directory = Directory();
    ++firstOpen_;
}

// Every level is closed here: the deepest is, and open levels are always the
// deepest ones. The levels that fit the window stay open afterwards.
Result<DirectoryChain::Reached> DirectoryChain::reopen() {
    const std::size_t count = levels_.size();
    const std::size_t keepFrom = count > window_ ? count - window_ : 0;
    Directory passing;  // the latest reopened level above the window
    const Directory* parent = &root_;
    for (std::size_t at = 0; at < count; ++at) {
        Level& level = levels_[at];
        auto child = parent->openChild(level.name);
        if (child.error) {
            for (std::size_t opened = keepFrom; opened < at; ++opened) {
                levels_[opened].directory = Directory();
            }
            return {{}, child.error};
        }
        Kind kind = child.value.kind;
        if (kind == Kind::directory) {
            const auto identity = child.value.directory.identity();
            if (identity.error || !level.identity || identity.value != *level.identity) {
                kind = Kind::unknown;  // another directory stands under the name now
            }
        }
        if (kind != Kind::directory) {
            levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(at), levels_.end());
            if (at > 0 && at <= keepFrom) {
                levels_[at - 1].directory = std::move(passing);
            }
            firstOpen_ = at > keepFrom ? keepFrom : (at > 0 ? at - 1 : 0);
            return {{nullptr, kind}, {}};
        }
        if (at >= keepFrom) {
            level.directory = std::move(child.value.directory);
            parent = &level.directory;
        } else {
            passing = std::move(child.value.directory);
            parent = &passing;
        }
    }
    firstOpen_ = keepFrom;
    return {{&levels_.back().directory, Kind::directory}, {}};
}

}  // namespace norvane::abap::filetree
