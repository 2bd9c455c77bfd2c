#include "CommandLine.hpp"

#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/lexical_cast.hpp>

namespace po = boost::program_options;

namespace boost {

// Reading of a path option, found by argument-dependent lookup through
// boost::any where addOptions instantiates the library's typed value. A value
// that begins with a double quote is one quoted string, as the library's stream
// conversion reads it; any other value is the path whole, blanks included, so
// "C:\Program Files\..." works unquoted.
void validate(boost::any& value, const std::vector<std::string>& tokens, std::filesystem::path*,
              int) {
    po::validators::check_first_occurrence(value);
    const std::string& text = po::validators::get_single_string(tokens);
    if (text.empty()) {
        throw po::invalid_option_value(text);
    }
    if (text.front() != '"') {
        value = boost::any(std::filesystem::path(text));
        return;
    }
    try {
        value = boost::any(boost::lexical_cast<std::filesystem::path>(text));
    } catch (const boost::bad_lexical_cast&) {
        throw po::invalid_option_value(text);
    }
}

}  // namespace boost

namespace norvane::abap {

void addOptions(po::options_description& options) {
    options.add_options()("help,h", "help message")("config,c", po::value<std::filesystem::path>(),
                                                    "Path to the config file");
}

std::filesystem::path configFilePath(const po::variables_map& variables) {
    if (variables.count("config") != 0) {
        return variables["config"].as<std::filesystem::path>();
    }
    return std::filesystem::path("../config/config.toml");
}

}  // namespace norvane::abap
