#include "util/SharedWideString.hpp"

#include <utility>

namespace norvane::abap::util {

SharedWideString::SharedWideString(const wchar_t* text)
    : shared_(text != nullptr ? new Shared{.text = text} : nullptr) {}

SharedWideString::SharedWideString(const SharedWideString& other) noexcept
    : shared_(other.shared_) {
    if (shared_ != nullptr) {
        shared_->owners.fetch_add(1);
    }
}

SharedWideString::SharedWideString(SharedWideString&& other) noexcept
    : shared_(std::exchange(other.shared_, nullptr)) {}

SharedWideString& SharedWideString::operator=(const SharedWideString& other) noexcept {
    SharedWideString copy(other);
    std::swap(shared_, copy.shared_);
    return *this;
}

SharedWideString& SharedWideString::operator=(SharedWideString&& other) noexcept {
    SharedWideString taken(std::move(other));
    std::swap(shared_, taken.shared_);
    return *this;
}

SharedWideString::~SharedWideString() {
    release();
}

SharedWideString::operator const wchar_t*() const noexcept {
    return shared_ != nullptr ? shared_->text.c_str() : nullptr;
}

unsigned SharedWideString::length() const noexcept {
    return shared_ != nullptr ? static_cast<unsigned>(shared_->text.size()) : 0U;
}

void SharedWideString::release() noexcept {
    Shared* shared = std::exchange(shared_, nullptr);
    if (shared != nullptr && shared->owners.fetch_sub(1) == 1) {
        delete shared;
    }
}

}  // namespace norvane::abap::util
