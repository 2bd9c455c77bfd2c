#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/program_options.hpp>

namespace norvane::abap {

// Declares -h/--help and -c/--config PATH.
void addOptions(boost::program_options::options_description& options);

// The --config value as written, or "../config/config.toml" (relative to the
// working directory).
std::filesystem::path configFilePath(const boost::program_options::variables_map& variables);

}  // namespace norvane::abap

namespace boost {

// Reading of a path option (found by argument-dependent lookup through
// boost::any). A value that begins with a double quote is one quoted string, as
// the library's stream conversion reads it; any other value is the path whole,
// blanks included, so "C:\Program Files\..." works unquoted.
void validate(boost::any& value, const std::vector<std::string>& tokens, std::filesystem::path*,
              int);

}  // namespace boost
