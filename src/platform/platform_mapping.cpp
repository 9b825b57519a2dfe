// Mapped files on POSIX, with a bus-error guard; elsewhere nothing is mapped and files are read.
#include "platform/platform_mapping.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvula::platform {

#ifndef Q_OS_WIN
namespace {

    // The mappings the guard knows, for the signal handler to look up without locks: begin 0
    // is a free record, 1 one being filled in or taken down.
    struct TGuardRecord {
        std::atomic<std::uintptr_t> begin { 0 };
        std::atomic<std::uintptr_t> end { 0 };
        std::atomic<bool> damaged { false };
        // Handlers looking at this record: it is not unmapped while one is, so that a zero page
        // never lands on memory that has meanwhile become something else.
        std::atomic<int> looking { 0 };
    };
    static_assert(std::atomic<std::uintptr_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<int>::is_always_lock_free);

    // A batch maps only the files its workers are decoding; beyond this many, files are read.
    constexpr int kRecords = 64;
    std::array<TGuardRecord, kRecords> g_records;

    int ReserveRecord()
    {
        for (int i = 0; i < kRecords; ++i) {
            std::uintptr_t expected = 0;
            if (g_records[static_cast<std::size_t>(i)].begin.compare_exchange_strong(expected, 1))
                return i;
        }
        return -1;
    }

    struct sigaction g_previous = {};
    std::uintptr_t g_pageSize = 4096;

    // Whether a fault at address lies in a guarded mapping; if so, its page is replaced by
    // zeros and the mapping marked.
    bool ZeroPageOfOurs(std::uintptr_t address)
    {
        for (TGuardRecord& record : g_records) {
            record.looking.fetch_add(1);
            // Looked at after saying so: a record seen filled in cannot be taken down (and
            // filled in again) until this handler is done with it.
            const std::uintptr_t begin = record.begin.load();
            const bool ours = begin > 1 && address >= begin && address < record.end.load();
            bool replaced = false;
            if (ours) {
                void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
                replaced = mmap(page, g_pageSize, PROT_READ,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
                    != MAP_FAILED;
                if (replaced)
                    record.damaged.store(true);
            }
            record.looking.fetch_sub(1);
            if (ours)
                return replaced;
        }
        return false;
    }

    // A read of a mapped page the file no longer has (it was cut short) or the device cannot
    // deliver raises SIGBUS. Within a guarded mapping the page becomes zeros and the read goes
    // on; its owner then discards what was made of the bytes. Every other bus error is left to
    // the handler that was there before (by default, the end of the process).
    extern "C" void OnBusError(int signal, siginfo_t* info, void*)
    {
        const int savedErrno = errno;
        if (info->si_code == BUS_ADRERR
            && ZeroPageOfOurs(reinterpret_cast<std::uintptr_t>(info->si_addr))) {
            errno = savedErrno;
            return;
        }
        sigaction(SIGBUS, &g_previous, nullptr);
        // A fault of the instruction itself repeats when it runs again; any other bus error
        // (sent by a process, or a memory error reported later) does not, so it is sent once
        // more.
        const int code = info->si_code;
        if (code != BUS_ADRERR && code != BUS_ADRALN && code != BUS_OBJERR)
            raise(signal);
        errno = savedErrno;
    }

    // False when the handler is not (or no longer) in place: a sanitizer may keep SIGBUS for
    // itself, and another part may have replaced the handler since.
    bool GuardInPlace()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            g_pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
            // The previous handler is known before ours can run.
            sigaction(SIGBUS, nullptr, &g_previous);
            struct sigaction action = {};
            action.sa_sigaction = OnBusError;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_SIGINFO;
            sigaction(SIGBUS, &action, nullptr);
        });
        struct sigaction current = {};
        return sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0
            && current.sa_sigaction == OnBusError;
    }

    struct TFileState {
        dev_t device;
        ino_t inode;
        off_t size;
        timespec modified;
        timespec changed;
    };

    TFileState StateOf(const struct stat& status)
    {
        return TFileState { status.st_dev, status.st_ino, status.st_size, status.st_mtim,
            status.st_ctim };
    }

    bool operator==(const timespec& a, const timespec& b)
    {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    bool operator==(const TFileState& a, const TFileState& b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size
            && a.modified == b.modified && a.changed == b.changed;
    }

} // namespace

struct TMappedFile::TState {
    int file = -1;
    int record = -1;
    TFileState opened {};
};
#else
struct TMappedFile::TState { };
#endif

std::shared_ptr<TMappedFile> TMappedFile::Open(
    const std::filesystem::path& path, std::uint64_t maxBytes)
{
#ifdef Q_OS_WIN
    (void)path;
    (void)maxBytes;
    return nullptr;
#else
    // Only a regular file is opened at all: opening a FIFO or a device has effects of its own.
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0
        || static_cast<std::uint64_t>(status.st_size) > maxBytes || !GuardInPlace())
        return nullptr;
    std::shared_ptr<TMappedFile> mapped(new TMappedFile);
    TState& state = *mapped->m_state;
    state.file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat opened = {};
    if (state.file < 0 || fstat(state.file, &opened) != 0 || opened.st_dev != status.st_dev
        || opened.st_ino != status.st_ino || !S_ISREG(opened.st_mode) || opened.st_size <= 0
        || static_cast<std::uint64_t>(opened.st_size) > maxBytes)
        return nullptr;
    state.opened = StateOf(opened);
    state.record = ReserveRecord();
    if (state.record < 0)
        return nullptr;
    const auto size = static_cast<std::size_t>(opened.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, state.file, 0);
    if (data == MAP_FAILED)
        return nullptr;
    mapped->m_data = static_cast<const std::uint8_t*>(data);
    mapped->m_size = size;
    TGuardRecord& record = g_records[static_cast<std::size_t>(state.record)];
    record.damaged.store(false);
    // The whole last page is ours, also past the file's last byte.
    record.end.store(
        (reinterpret_cast<std::uintptr_t>(data) + size + g_pageSize - 1) & ~(g_pageSize - 1));
    record.begin.store(reinterpret_cast<std::uintptr_t>(data));
    return mapped;
#endif
}

TMappedFile::TMappedFile()
    : m_state(std::make_unique<TState>())
{
}

TMappedFile::~TMappedFile()
{
#ifndef Q_OS_WIN
    const TState& state = *m_state;
    if (state.record >= 0) {
        TGuardRecord& record = g_records[static_cast<std::size_t>(state.record)];
        record.begin.store(1); // no longer looked up, still reserved
        while (record.looking.load() != 0) { }
        if (m_data)
            munmap(const_cast<std::uint8_t*>(m_data), m_size);
        record.begin.store(0);
    }
    if (state.file >= 0)
        ::close(state.file);
#endif
}

void TMappedFile::LetGo(std::size_t offset) const
{
#ifdef Q_OS_WIN
    (void)offset;
#else
    const auto begin = reinterpret_cast<std::uintptr_t>(m_data);
    const std::uintptr_t end = (begin + std::min(offset, m_size)) & ~(g_pageSize - 1);
    // Only a hint: a mapping of the file that was never written to is read again on demand.
    if (end > begin)
        madvise(const_cast<std::uint8_t*>(m_data), end - begin, MADV_DONTNEED);
#endif
}

bool TMappedFile::Damaged() const
{
#ifdef Q_OS_WIN
    return false;
#else
    const TState& state = *m_state;
    if (g_records[static_cast<std::size_t>(state.record)].damaged.load())
        return true;
    // Cut short within the last page (the rest of that page reads as zeros without a fault),
    // cut and written again, or written over in place: the bytes are no longer one file's.
    struct stat status = {};
    return fstat(state.file, &status) != 0 || !(StateOf(status) == state.opened);
#endif
}

} // namespace parvula::platform
