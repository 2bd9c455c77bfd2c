#pragma once

// The process-wide record and its guard. The record is defined among the
// start-up globals (util/StartupGlobals.cpp), which fix their order of
// construction. Only the loader writes them; everyone else reads through
// getG_Config.

#include <atomic>

#include "config/Config.hpp"

namespace norvane::abap::config {

extern G_Config G_ConfigInstance;
extern std::atomic<bool> G_ConfigInitialized;

}  // namespace norvane::abap::config
