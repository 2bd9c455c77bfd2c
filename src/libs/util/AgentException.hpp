#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace norvane::abap::util {

// Base of the suite's own exceptions: a message plus the place that raised it.
// what() is the message alone; the location is kept for diagnostics.
class AgentException : public std::exception {
  public:
    explicit AgentException(std::string message,
                            std::source_location location = std::source_location::current());
    ~AgentException() override = default;

    const char* what() const noexcept override;
    const std::source_location& location() const noexcept { return location_; }

  private:
    std::string message_;
    std::source_location location_;
};

}  // namespace norvane::abap::util
