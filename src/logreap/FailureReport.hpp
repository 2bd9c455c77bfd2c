#pragma once

#include <string>
#include <string_view>

namespace norvane::abap {

// Ends a failed run (exit status 1 or 2): flushes standard output (what the run
// printed comes first), writes `text` and a line end to standard error and
// returns `status`, the exit status. On Windows the text is also left where an
// administrator looks when no console is watched: the Application event log,
// as an error event of source "logreap" whose event ID is the exit status and
// whose one insertion string is the text. Task Scheduler discards a task's
// output, and a run that fails before its log file is open (configuration, log
// folder) has nowhere else to leave it. Elsewhere the scheduler keeps standard
// error (the journal, cron's mail). Never throws; a log that cannot be written
// is passed over.
int failRun(int status, std::string_view text) noexcept;

#ifdef _WIN32
// The insertion string for `text` (UTF-8): UTF-16, bytes that are not UTF-8
// replaced, cut to what ReportEventW accepts in one string (longer ones make
// it fail and nothing is logged), the cut marked with "...".
std::wstring eventLogText(std::string_view text);
#endif

}  // namespace norvane::abap
