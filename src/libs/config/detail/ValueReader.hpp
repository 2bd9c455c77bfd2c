#pragma once

// Typed reading of single TOML values, shared by every table reader of the
// configuration library. Each reader accepts exactly one TOML type and lets the
// TOML library's own errors through unchanged.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/TomlDocument.hpp"

namespace norvane::abap::config {

// Marks a 64-bit member that is filled from a 32-bit reading: the low 32 bits
// of the TOML integer, read as signed, then widened again with the sign.
struct WidenedInt32 {};

// ValueReader<T>::read turns one TOML value into a T (or, for a marker such as
// WidenedInt32, into ValueReader<T>::type). Records read from tables specialise
// it next to their reader.
template <class T>
struct ValueReader;

template <class T>
using ReadType = typename ValueReader<T>::type;

template <>
struct ValueReader<std::string> {
    using type = std::string;
    static type read(const toml::value& value) { return value.as_string(); }
};

// The text is taken as the file system's narrow encoding (UTF-8 for this suite).
template <>
struct ValueReader<std::filesystem::path> {
    using type = std::filesystem::path;
    static type read(const toml::value& value) { return type(value.as_string()); }
};

template <>
struct ValueReader<bool> {
    using type = bool;
    static type read(const toml::value& value) { return value.as_boolean(); }
};

// The full 64-bit value.
template <>
struct ValueReader<std::int64_t> {
    using type = std::int64_t;
    static type read(const toml::value& value) { return value.as_integer(); }
};

// Only the low 32 bits remain, read as a signed value; there is no range test.
template <>
struct ValueReader<std::int32_t> {
    using type = std::int32_t;
    static type read(const toml::value& value) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.as_integer()));
    }
};

template <>
struct ValueReader<WidenedInt32> {
    using type = std::int64_t;
    static type read(const toml::value& value) { return ValueReader<std::int32_t>::read(value); }
};

// An array whose elements are read one by one, first to last; the first
// element of the wrong kind ends the reading with its type error.
template <class Element>
struct ValueReader<std::vector<Element>> {
    using type = std::vector<ReadType<Element>>;
    static type read(const toml::value& value) {
        const auto& elements = value.as_array();
        type result;
        result.reserve(elements.size());
        for (const auto& element : elements) {
            result.push_back(ValueReader<Element>::read(element));
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
    static type read(const toml::value& value) { return Reader(value); }
};

// A required key: a missing key raises the TOML library's key-not-found error,
// a value of another type its type error.
template <class T>
ReadType<T> required(const toml::value& table, const std::string& key) {
    return ValueReader<T>::read(table.at(key));
}

// An optional key: absent gives an empty optional; present, it is read exactly
// like a required key, so a wrong type is never silently ignored.
template <class T>
std::optional<ReadType<T>> findOptional(const toml::value& table, const std::string& key) {
    if (!table.contains(key)) {
        return std::nullopt;
    }
    return required<T>(table, key);
}

}  // namespace norvane::abap::config
