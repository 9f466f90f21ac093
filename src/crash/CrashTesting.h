#pragma once
// For the crash library's tests only: makes the next report's handler fault right after the
// report's header, to show that a fault there ends the process.
//
// Threads: before the crash, from the thread that installed the handlers.

namespace updater::crash {

void FaultInsideHandlerForTest();

}  // namespace updater::crash
