#include "AgentException.hpp"

#include <utility>

namespace norvane::abap::util {

AgentException::AgentException(std::string message, std::source_location location)
    : message_(std::move(message)), location_(location) {}

const char* AgentException::what() const noexcept {
    return message_.c_str();
}

}  // namespace norvane::abap::util
