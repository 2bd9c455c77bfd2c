#pragma once

// The one door to toml11: no other file of the project includes <toml.hpp>.
// Every translation unit that instantiates the parser must see the corrections
// below before it does; one that saw the library's own versions would emit
// them as well, and the linker keeps whichever copy it meets first, so a single
// unpatched file could undo the corrections for the whole program.
//
// The corrections concern toml11's error recovery, the code that skips ahead
// after a syntax error so that the parser can go on and report further errors.
// Its skipping functions could keep a malformed configuration file from ever
// producing its syntax error:
//
// - skip_comment_block did not advance inside a comment, so a syntax error
//   followed by a comment (in the leading comment block, or in a malformed
//   array or inline table) made the parser loop forever;
// - skip_array_like, on meeting '=' inside an unclosed array, moved back to the
//   start of the line, even to before the array itself; the array or inline
//   table around it, or the parser's own array loop, then scanned that stretch
//   again and again, looping forever or recursing until the stack overflowed.
//
// The specialisations below replace the library's versions for the default
// type configuration: comments are skipped whole, skipping an array never
// moves before its '[', and a nested skip that made no headway ends the
// enclosing one too.

#include <istream>
#include <string>
#include <utility>

#include <toml.hpp>

// Written against exactly this release's skipping functions and error texts: on
// an upgrade, compare them with the new release's, adapt or drop the
// corrections, check that its error titles and messages still quote nothing of
// the file but what ErrorText.cpp masks, and then move the version here.
#if TOML11_VERSION_MAJOR != 4 || TOML11_VERSION_MINOR != 4 || TOML11_VERSION_PATCH != 0
#error "toml11 4.4.0 expected: re-check the error-recovery corrections in TomlDocument.hpp"
#endif
// A compiled toml11 instantiates the parser in its own library, where no
// correction can reach it.
#ifdef TOML11_COMPILE_SOURCES
#error \
    "toml11 must be used header-only: the corrections in TomlDocument.hpp cannot reach a compiled parser"
#endif

namespace toml::detail {

template <>
void skip_comment_block<type_config>(location& loc, const context<type_config>& ctx);
template <>
void skip_array_like<type_config>(location& loc, const context<type_config>& ctx);
template <>
void skip_inline_table_like<type_config>(location& loc, const context<type_config>& ctx);

// Comment lines and empty lines, each comment up to and including its line end.
template <>
inline void skip_comment_block<type_config>(location& loc, const context<type_config>& ctx) {
    while (!loc.eof()) {
        skip_whitespace(loc, ctx);
        if (loc.current() == '#') {
            while (!loc.eof()) {
                const bool lineEnd = loc.current() == '\n';  // CRLF ends with LF too
                loc.advance();
                if (lineEnd) {
                    break;
                }
            }
        } else if (!syntax::newline(ctx.toml_spec()).scan(loc).is_ok()) {
            return;  // neither a comment nor an empty line
        }
    }
}

// As the library's, except that a nested array or inline table whose skipping
// moved back to or before its own opening bracket (the '=' case below) ends the
// enclosing skip there too.
template <>
inline void skip_array_like<type_config>(location& loc, const context<type_config>& ctx) {
    const auto& language = ctx.toml_spec();
    const auto start = loc.get_location();
    loc.advance();  // the '['
    while (!loc.eof()) {
        if (loc.current() == '\"' || loc.current() == '\'') {
            skip_string_like(loc, ctx);
        } else if (loc.current() == '#') {
            skip_comment_block(loc, ctx);
        } else if (loc.current() == '{') {
            const auto nestedStart = loc.get_location();
            skip_inline_table_like(loc, ctx);
            if (loc.get_location() <= nestedStart) {
                break;
            }
        } else if (loc.current() == '[') {
            const auto checkpoint = loc;
            if (syntax::std_table(language).scan(loc).is_ok() ||
                syntax::array_table(language).scan(loc).is_ok()) {
                loc = checkpoint;
                break;
            }
            const auto nestedStart = checkpoint.get_location();
            skip_array_like(loc, ctx);
            if (loc.get_location() <= nestedStart) {
                break;
            }
        } else if (loc.current() == '=') {
            // A key-value pair cannot be inside an array: the closing bracket is
            // taken to be missing, and parsing resumes with this line's key,
            // though never before this array's own '['.
            while (loc.get_location() > start) {
                loc.retrace();
                if (loc.current() == '\n') {
                    loc.advance();
                    break;
                }
            }
            break;
        } else if (loc.current() == ']') {
            break;
        } else {
            loc.advance();
        }
    }
}

// As the library's, with the same guard for a nested array or inline table.
template <>
inline void skip_inline_table_like<type_config>(location& loc, const context<type_config>& ctx) {
    const auto& language = ctx.toml_spec();
    loc.advance();  // the '{'
    while (!loc.eof()) {
        if (loc.current() == '\n' && !language.v1_1_0_allow_newlines_in_inline_tables) {
            break;  // missing closing '}'
        } else if (loc.current() == '\"' || loc.current() == '\'') {
            skip_string_like(loc, ctx);
        } else if (loc.current() == '#') {
            skip_comment_block(loc, ctx);
            if (!language.v1_1_0_allow_newlines_in_inline_tables) {
                break;  // a comment ends with a line end: missing closing '}'
            }
        } else if (loc.current() == '[') {
            const auto checkpoint = loc;
            if (syntax::std_table(language).scan(loc).is_ok() ||
                syntax::array_table(language).scan(loc).is_ok()) {
                loc = checkpoint;
                break;  // missing closing '}'
            }
            const auto nestedStart = checkpoint.get_location();
            skip_array_like(loc, ctx);
            if (loc.get_location() <= nestedStart) {
                break;
            }
        } else if (loc.current() == '{') {
            const auto nestedStart = loc.get_location();
            skip_inline_table_like(loc, ctx);
            if (loc.get_location() <= nestedStart) {
                break;
            }
        } else if (loc.current() == '}') {
            break;  // the closing brace: the error lies inside the table
        } else {
            loc.advance();
        }
    }
}

}  // namespace toml::detail

namespace norvane::abap::config {

// The library's syntax error with a text that quotes nothing of the file: each
// error on a line of its own, with the file, line and column, what was wrong
// there and no excerpt (see ErrorText.cpp). Its list of errors is left empty,
// as their locations hold the file's lines.
toml::syntax_error withoutExcerpts(const toml::syntax_error& error);

// Parses the whole stream as a TOML 1.0.0 document with every later feature
// and extension switched off, naming it `name` in error messages. Raises the
// stream's errors as the caller switched them on, and toml::syntax_error
// (withoutExcerpts).
inline toml::value parseConfigDocument(std::istream& stream, std::string name) {
    try {
        return toml::parse(stream, std::move(name), toml::spec::v(1, 0, 0));
    } catch (const toml::syntax_error& error) {
        throw withoutExcerpts(error);
    }
}

}  // namespace norvane::abap::config
