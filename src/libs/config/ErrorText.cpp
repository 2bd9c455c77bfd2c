#include "config/detail/ErrorText.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace norvane::abap::config {
namespace {

// "<file>: line L, column C"; the file is left out where it is `previousFile`,
// and the whole place where the value was not read from a file.
std::string place(const toml::source_location& location, const std::string& previousFile = {}) {
    if (!location.is_ok()) {
        return {};
    }
    std::string text = location.file_name() == previousFile ? "" : location.file_name() + ": ";
    return text + "line " + std::to_string(location.first_line_number()) + ", column " +
           std::to_string(location.first_column_number());
}

// "first: second", or the one that is not empty.
std::string joined(const std::string& first, const std::string& second) {
    return first.empty() ? second : second.empty() ? first : first + ": " + second;
}

// A title without the library function's name ("toml::parse_basic_string:
// invalid string format" says "invalid string format") and without a closing
// full stop, as a message follows it.
std::string withoutFunction(const std::string& title) {
    const auto end = title.find(": ");
    std::string text =
        title.starts_with("toml::") && end != std::string::npos ? title.substr(end + 2) : title;
    if (text.ends_with('.')) {
        text.pop_back();
    }
    return text;
}

// The library's titles and messages are fixed texts but for those of a date or
// time it could not read, which quote the digits ("failed to read year `2024`").
std::string masked(std::string message) {
    const auto quote = message.find('`');
    if (message.starts_with("failed to read") && quote != std::string::npos) {
        message.replace(quote, std::string::npos, "`***`");
    }
    return message;
}

// One error on one line: the first place, what was wrong there, and the
// further places the library points at ("...; line 27, column 7: but value
// already exists"). The library's excerpts of the file and its hints are left out.
std::string describe(const toml::error_info& error) {
    std::string text;
    std::string previousFile;
    for (const auto& [location, message] : error.locations()) {
        const std::string what = text.empty()
                                     ? joined(withoutFunction(error.title()), masked(message))
                                     : masked(message);
        if (!text.empty()) {
            text += "; ";
        }
        text += joined(place(location, previousFile), what);
        previousFile = location.file_name();
    }
    return text.empty() ? withoutFunction(error.title()) : text;
}

}  // namespace

toml::syntax_error withoutExcerpts(const toml::syntax_error& error) {
    std::string text;
    for (const auto& each : error.errors()) {
        if (!text.empty()) {
            text += '\n';
        }
        text += describe(each);
    }
    return toml::syntax_error(text, {});
}

void throwTypeError(const toml::value& value, std::string_view key, toml::value_t expected) {
    std::string what =
        "expected " + toml::to_string(expected) + ", found " + toml::to_string(value.type());
    if (!key.empty()) {
        what = "key \"" + std::string(key) + "\": " + what;
    }
    // The value's own location would carry the lines of the file.
    throw toml::type_error(joined(place(value.location()), what),
                           toml::source_location(toml::detail::region()));
}

void throwKeyNotFound(const toml::value& table, std::string_view key) {
    const auto location = table.location();
    // The library places the top-level table at the file's first character (at
    // none in an empty file): no place of its own.
    const bool topLevel = location.is_ok() && location.first_line_number() <= 1 &&
                          location.first_column_number() <= 1 && location.length() <= 1;
    const std::string what = "key \"" + std::string(key) + "\" not found in " +
                             (topLevel ? "the top-level table" : "this table");
    throw std::out_of_range(joined(topLevel ? location.file_name() : place(location), what));
}

}  // namespace norvane::abap::config
