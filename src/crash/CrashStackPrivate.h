#pragma once
// Shared by the crash library's own files: stack capture into a caller's array and frame
// naming over plain arrays.
//
// Threads: any; CaptureStackInto is usable in a signal handler once the unwinder has run once
// in the process (Install warms it up), DescribeFrames allocates.

#include <string>

#include "CrashReport.h"

namespace updater::crash {

void CaptureStackInto(TStack& stack, int skip);
std::string DescribeFrames(void* const* frames, int count, bool first_is_exact);

}  // namespace updater::crash
