#pragma once
// The ring of the event log's last kLogLinesKept lines (CrashReport.h's NoteLogLine fills it),
// in static memory that a signal handler reads without allocating.
//
// Threads: one writer at a time (NoteLogLine); readers on any thread. A line being written
// while a crashed thread reads may come out cut short, never out of bounds.

#include <cstddef>
#include <cstdint>

namespace updater::crash {

// Calls visit for every kept line, oldest first, without the line's ending.
void ForEachLogLine(void (*visit)(const char* text, std::size_t size, void* data), void* data);

// Lines noted since the start of the process.
std::uint64_t LogLinesNoted();

}  // namespace updater::crash
