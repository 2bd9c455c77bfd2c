#include "detail/DirectoryChain.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace norvane::abap::filetree {
namespace {

bool outOfDescriptors(const std::error_code& ec) {
    return ec == std::errc::too_many_files_open || ec == std::errc::too_many_files_open_in_system;
}

}  // namespace

DirectoryChain::DirectoryChain(Directory& root, std::size_t window)
    : root_(root), window_(std::max<std::size_t>(window, 1)) {}

Result<Kind> DirectoryChain::push(NativeName name, const Mark& mark) {
    for (;;) {
        auto child = parentOf(levels_.size()).openChild(name);
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
        levels_.push_back({NativeString(name), mark, std::move(child.value.directory), {}, {}});
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
    if (!left || levels_.empty() || openLevels() > 0 || !levels_.back().identity) {
        return;
    }
    auto parent = left.openParent();
    if (parent.error || !parent.value) {
        return;
    }
    const auto identity = parent.value.identity();
    if (!identity.error && identity.value == *levels_.back().identity) {
        levels_.back().directory = std::move(parent.value);
        firstOpen_ = levels_.size() - 1;
    }
}

Result<std::optional<ListedEntry>> DirectoryChain::next() {
    if (levels_.empty()) {
        return root_.next();
    }
    Level& level = levels_.back();
    if (auto* ahead = std::get_if<ReadAhead>(&level.listing)) {
        if (ahead->at < ahead->entries.size()) {
            const auto& entry = ahead->entries[ahead->at++];
            return {ListedEntry{entry.name, entry.kind}, {}};
        }
        return {std::nullopt, std::exchange(ahead->error, {})};
    }
    level.listing = OnHandle{};
    return level.directory.next();
}

Result<DirectoryChain::Reached> DirectoryChain::deepest() {
    if (openLevels() > 0 || levels_.empty()) {
        return {{&parentOf(levels_.size()), Kind::directory}, {}};
    }
    return reopen();
}

void DirectoryChain::leaveWindow() {
    Level& level = levels_[firstOpen_];
    if (std::holds_alternative<OnHandle>(level.listing)) {
        ReadAhead ahead;
        for (;;) {
            auto entry = level.directory.next();
            if (!entry.value) {
                ahead.error = entry.error;
                break;
            }
            ahead.entries.push_back({NativeString(entry.value->name), entry.value->kind});
        }
        level.listing = std::move(ahead);
    }
    auto identity = level.directory.identity();
    if (!identity.error) {
        level.identity = identity.value;  // without it the level cannot be reopened
    }
    level.directory = Directory();
    ++firstOpen_;
}

// Every level is closed here: the deepest is, and open levels are always the
// deepest ones. They are opened by name from the root down, each from the one
// above it, and as one more opens, the shallowest beyond the window closes.
Result<DirectoryChain::Reached> DirectoryChain::reopen() {
    assert(!levels_.empty() && openLevels() == 0);
    firstOpen_ = 0;
    for (std::size_t at = 0; at < levels_.size(); ++at) {
        assert(at - firstOpen_ <= window_ && (at == 0 || levels_[at - 1].directory));
        Level& level = levels_[at];
        auto child = parentOf(at).openChild(level.name);
        if (child.error) {
            for (; firstOpen_ < at; ++firstOpen_) {
                levels_[firstOpen_].directory = Directory();
            }
            firstOpen_ = levels_.size();
            return {{}, child.error};
        }
        Kind met = child.value.kind;
        if (met == Kind::directory) {
            const auto identity = child.value.directory.identity();
            if (identity.error || !level.identity || identity.value != *level.identity) {
                child.value.directory = Directory();  // another directory stands under the name now
            }
        }
        if (!child.value.directory) {
            // Cut: the levels left are the open ones down to the one above.
            levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(at), levels_.end());
            return {{nullptr, met}, {}};
        }
        level.directory = std::move(child.value.directory);
        if (at + 1 - firstOpen_ > window_) {
            levels_[firstOpen_++].directory = Directory();
        }
    }
    assert(openLevels() == std::min(levels_.size(), window_));
    return {{&levels_.back().directory, Kind::directory}, {}};
}

}  // namespace norvane::abap::filetree
