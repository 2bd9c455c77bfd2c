#pragma once

// Why a file could not be opened, in the operating system's own words, for the
// error that names the file. One source file per platform.

#include <string>

namespace norvane::abap::config {

// Forgets the last error: called before the open whose failure is to be told.
void clearOpenFailure() noexcept;

// The reason the last failed open met; empty where the system recorded none.
// Called right after the open, before anything else can overwrite it.
std::string openFailure();

// The reason for a directory that was opened as a file where the platform
// allows that but it cannot be read as one.
std::string directoryOpenFailure();

}  // namespace norvane::abap::config
