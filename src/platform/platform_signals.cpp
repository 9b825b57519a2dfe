// Stop requests from outside the process (Ctrl-C, SIGTERM) turned into a flag a long run reads.
#include "platform/platform_signals.h"

#include <atomic>
#include <csignal>

#include <QtGlobal>

namespace parvula::platform {

namespace {

    // A lock-free atomic is the one kind of shared object a signal handler may write (besides
    // volatile sig_atomic_t); on Windows the console handler even runs on another thread.
    std::atomic<int> g_stopStatus { 0 };
    static_assert(std::atomic<int>::is_always_lock_free);

    extern "C" void RecordStop(int signal)
    {
        // Only the flag: exiting here would skip the removal of the temporary output file.
        g_stopStatus.store(signal == SIGTERM ? kExitTerminated : kExitInterrupted);
#ifdef Q_OS_WIN
        // The C runtime resets the handler before calling it; a second Ctrl-C would end the
        // process at once.
        std::signal(signal, RecordStop);
#endif
    }

} // namespace

void InstallStopHandlers()
{
#ifdef Q_OS_WIN
    std::signal(SIGINT, RecordStop);
    std::signal(SIGTERM, RecordStop);
#else
    struct sigaction action = {};
    action.sa_handler = RecordStop;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes resume, so a file in progress never sees EINTR as a failure.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

int StopRequestStatus() { return g_stopStatus.load(); }

void ClearStopRequest() { g_stopStatus.store(0); }

} // namespace parvula::platform
