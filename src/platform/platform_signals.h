// Stop requests from outside the process (Ctrl-C, SIGTERM) turned into a flag a long run reads.
#pragma once

namespace parvula::platform {

// Exit status of a run stopped by a stop request: 128 + the signal's number, as shells report it.
inline constexpr int kExitInterrupted = 130; // SIGINT, Ctrl-C
inline constexpr int kExitTerminated = 143; // SIGTERM

// Installs handlers for SIGINT and SIGTERM that only record the request; the process goes on
// and decides itself where to stop, so no half-written file is left behind. Repeated requests
// are recorded the same way and never end the process in the middle of a file.
void InstallStopHandlers();

// 0 while no stop was requested; otherwise the exit status that request asks for.
int StopRequestStatus();

// Forgets a recorded request (a process that runs more than one batch).
void ClearStopRequest();

} // namespace parvula::platform
