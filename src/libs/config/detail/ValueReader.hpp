#pragma once

// Typed reading of single TOML values, shared by every table reader of the
// configuration library. Each reader accepts exactly one TOML type. A value's
// type and a key's presence are checked here before the TOML library is asked,
// so that the error raised names the key and place and quotes no value
// (ErrorText.hpp); the library's own errors would quote the file's lines.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/TomlDocument.hpp"
#include "config/detail/ErrorText.hpp"

namespace norvane::abap::config {

// Marks a 64-bit member that is filled from a 32-bit reading: the low 32 bits
// of the TOML integer, read as signed, then widened again with the sign.
struct WidenedInt32 {};

// ValueReader<T>::read turns one TOML value of type ValueReader<T>::kind,
// found under `key`, into a T (or, for a marker such as WidenedInt32, into
// ValueReader<T>::type). Records read from tables specialise it next to their
// reader.
template <class T>
struct ValueReader;

template <class T>
using ReadType = typename ValueReader<T>::type;

// A value of another type is an error that names the key.
template <class T>
ReadType<T> readValue(const toml::value& value, std::string_view key) {
    if (value.type() != ValueReader<T>::kind) {
        throwTypeError(value, key, ValueReader<T>::kind);
    }
    return ValueReader<T>::read(value, key);
}

template <>
struct ValueReader<std::string> {
    using type = std::string;
    static constexpr auto kind = toml::value_t::string;
    static type read(const toml::value& value, std::string_view) { return value.as_string(); }
};

// The text is taken as the file system's narrow encoding (UTF-8 for this suite).
template <>
struct ValueReader<std::filesystem::path> {
    using type = std::filesystem::path;
    static constexpr auto kind = toml::value_t::string;
    static type read(const toml::value& value, std::string_view) { return type(value.as_string()); }
};

template <>
struct ValueReader<bool> {
    using type = bool;
    static constexpr auto kind = toml::value_t::boolean;
    static type read(const toml::value& value, std::string_view) { return value.as_boolean(); }
};

// The full 64-bit value.
template <>
struct ValueReader<std::int64_t> {
    using type = std::int64_t;
    static constexpr auto kind = toml::value_t::integer;
    static type read(const toml::value& value, std::string_view) { return value.as_integer(); }
};

// Only the low 32 bits remain, read as a signed value; there is no range test.
template <>
struct ValueReader<std::int32_t> {
    using type = std::int32_t;
    static constexpr auto kind = toml::value_t::integer;
    static type read(const toml::value& value, std::string_view) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.as_integer()));
    }
};

template <>
struct ValueReader<WidenedInt32> {
    using type = std::int64_t;
    static constexpr auto kind = toml::value_t::integer;
    static type read(const toml::value& value, std::string_view key) {
        return ValueReader<std::int32_t>::read(value, key);
    }
};

// An array whose elements are read one by one, first to last; the first
// element of the wrong kind ends the reading with its type error, which names
// the array's key.
template <class Element>
struct ValueReader<std::vector<Element>> {
    using type = std::vector<ReadType<Element>>;
    static constexpr auto kind = toml::value_t::array;
    static type read(const toml::value& value, std::string_view key) {
        const auto& elements = value.as_array();
        type result;
        result.reserve(elements.size());
        for (const auto& element : elements) {
            result.push_back(readValue<Element>(element, key));
        }
        return result;
    }
};

// A record read from a TOML table by its reader. A record's specialisation
// derives from this, e.g.
//   template <> struct ValueReader<RfcConfig> : TableReader<RfcConfig, parseRfc> {};
// so that required<std::vector<RfcConfig>> reads an array of such tables.
template <class Record, Record (*Reader)(const toml::value&)>
struct TableReader {
    using type = Record;
    static constexpr auto kind = toml::value_t::table;
    static type read(const toml::value& value, std::string_view) { return Reader(value); }
};

// The table a reader was handed, for a reader called with another value.
inline void requireTable(const toml::value& table) {
    if (!table.is_table()) {
        throwTypeError(table, {}, toml::value_t::table);
    }
}

// A required key: a missing key raises std::out_of_range, as the TOML
// library's look-up does, a value of another type toml::type_error.
template <class T>
ReadType<T> required(const toml::value& table, const std::string& key) {
    requireTable(table);
    if (!table.contains(key)) {
        throwKeyNotFound(table, key);
    }
    return readValue<T>(table.at(key), key);
}

// An optional key: absent gives an empty optional; present, it is read exactly
// like a required key, so a wrong type is never silently ignored.
template <class T>
std::optional<ReadType<T>> findOptional(const toml::value& table, const std::string& key) {
    requireTable(table);
    if (!table.contains(key)) {
        return std::nullopt;
    }
    return required<T>(table, key);
}

}  // namespace norvane::abap::config
