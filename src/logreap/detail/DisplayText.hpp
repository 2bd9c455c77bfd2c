#pragma once

// File names and configured paths as the tool's log lines show them.
// Header-only.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace norvane::abap {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends `text` to `shown` with every control character (C0, DEL and C1) and
// every byte that is not part of a well-formed UTF-8 sequence written as \xNN,
// two upper-case hex digits a byte, so that a file name can neither split a
// log line, nor forge one, nor send terminal controls, nor spoil the log
// file's UTF-8. All other text, backslashes included, is unchanged.
inline void appendDisplayText(std::string& shown, std::string_view text) {
    // Most names are printable ASCII: nothing to escape.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        shown.append(text);
        return;
    }
    auto byteAt = [&](std::size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    auto within = [&](std::size_t at, unsigned low, unsigned high) {
        const unsigned c = byteAt(at);
        return at < text.size() && c >= low && c <= high;
    };
    // The length of the well-formed sequence starting at `at`, or 0.
    auto sequenceLength = [&](std::size_t at) -> std::size_t {
        const unsigned c = byteAt(at);
        if (c < 0x80) {
            return 1;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            return within(at + 1, 0x80, 0xBF) ? 2 : 0;
        }
        if (c >= 0xE0 && c <= 0xEF) {
            const unsigned low = c == 0xE0 ? 0xA0 : 0x80;
            const unsigned high = c == 0xED ? 0x9F : 0xBF;
            return within(at + 1, low, high) && within(at + 2, 0x80, 0xBF) ? 3 : 0;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            const unsigned low = c == 0xF0 ? 0x90 : 0x80;
            const unsigned high = c == 0xF4 ? 0x8F : 0xBF;
            return within(at + 1, low, high) && within(at + 2, 0x80, 0xBF) &&
                           within(at + 3, 0x80, 0xBF)
                       ? 4
                       : 0;
        }
        return 0;
    };
    auto isControl = [&](std::size_t at, std::size_t length) {
        const unsigned c = byteAt(at);
        return (length == 1 && (c < 0x20 || c == 0x7F)) ||
               (length == 2 && c == 0xC2 && byteAt(at + 1) <= 0x9F);
    };

    shown.reserve(shown.size() + text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = sequenceLength(at);
        const bool escape = length == 0 || isControl(at, length);
        if (length == 0) {
            length = 1;  // one stray byte
        }
        for (std::size_t i = at; i < at + length; ++i) {
            if (escape) {
                const unsigned c = byteAt(i);
                shown += "\\x";
                shown += kHexDigits[c >> 4];
                shown += kHexDigits[c & 0x0F];
            } else {
                shown += text[i];
            }
        }
        at += length;
    }
}

// Appends UTF-16 text (a Windows name) to `shown` in UTF-8, escaped as
// appendDisplayText escapes. An unpaired surrogate, which NTFS takes in a name
// but no UTF-8 can hold, is written as \u{D800}: "\u{", its four upper-case
// hex digits, "}". So no name fails to show.
template <class Char>
void appendDisplayText(std::string& shown, std::basic_string_view<Char> text) {
    static_assert(sizeof(Char) == 2, "UTF-16 text");
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t c = static_cast<char16_t>(text[at]);
        const char32_t next = at + 1 < text.size() ? static_cast<char16_t>(text[at + 1]) : 0;
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++at;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            utf8 += "\\u{";
            for (const int shift : {12, 8, 4, 0}) {
                utf8 += kHexDigits[(c >> shift) & 0xF];
            }
            utf8 += '}';
            continue;
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    appendDisplayText(shown, utf8);
}

inline std::string displayText(std::string_view text) {
    std::string shown;
    appendDisplayText(shown, text);
    return shown;
}

}  // namespace norvane::abap
