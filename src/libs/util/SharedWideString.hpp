#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace norvane::abap::util {

// A wide text shared under a reference count, in the manner of the platform's
// COM strings: copies share one text, and the last owner to let go frees it.
// The count is changed by atomic operations only.
class SharedWideString {
  public:
    SharedWideString() noexcept = default;
    // Copies the text; a null text gives an empty holder.
    explicit SharedWideString(const wchar_t* text);

    SharedWideString(const SharedWideString& other) noexcept;
    SharedWideString(SharedWideString&& other) noexcept;
    SharedWideString& operator=(const SharedWideString& other) noexcept;
    SharedWideString& operator=(SharedWideString&& other) noexcept;
    ~SharedWideString();

    // The text, or null when the holder is empty.
    operator const wchar_t*() const noexcept;
    unsigned length() const noexcept;

  private:
    struct Shared {
        std::atomic<std::int32_t> owners{1};
        std::wstring text;
    };

    void release() noexcept;

    Shared* shared_ = nullptr;
};

}  // namespace norvane::abap::util
