#pragma once

#include <filesystem>

#include <boost/program_options.hpp>

namespace norvane::abap {

// Declares -h/--help and -c/--config PATH.
void addOptions(boost::program_options::options_description& options);

// The --config value as written, or "../config/config.toml" (relative to the
// working directory).
std::filesystem::path configFilePath(const boost::program_options::variables_map& variables);

}  // namespace norvane::abap
