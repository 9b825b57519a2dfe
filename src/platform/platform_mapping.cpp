// Mapped files on POSIX, with a bus-error guard; elsewhere nothing is mapped and files are read.
#include "platform/platform_mapping.h"

#include <array>
#include <atomic>
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

namespace {

#ifndef Q_OS_WIN
    // The mappings the guard knows, for the signal handler to look up without locks: begin 0
    // is a free record, 1 one being filled in.
    struct TGuardRecord {
        std::atomic<std::uintptr_t> begin { 0 };
        std::atomic<std::uintptr_t> end { 0 };
        std::atomic<bool> damaged { false };
        int file = -1; // kept open, so that Damaged can see the file shrink within a page
    };
    static_assert(std::atomic<std::uintptr_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);

    // More files than workers are never mapped at once; beyond this many, files are read.
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

    // A read of a mapped page the file no longer has (it was cut short) or the device cannot
    // deliver raises SIGBUS. Within a guarded mapping the page is replaced by zeros and the
    // mapping marked; the read then goes on, and its result is discarded by the owner.
    extern "C" void OnBusError(int, siginfo_t* info, void*)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        for (TGuardRecord& record : g_records) {
            const std::uintptr_t begin = record.begin.load(std::memory_order_acquire);
            if (begin <= 1 || address < begin || address >= record.end.load())
                continue;
            void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
            if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
                != MAP_FAILED) {
                record.damaged.store(true);
                return;
            }
            break;
        }
        // Not ours (or no page to put in): the read faults again under the handler that was
        // there before, by default ending the process as any bus error does.
        sigaction(SIGBUS, &g_previous, nullptr);
    }

    void InstallGuard()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            g_pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
            struct sigaction action = {};
            action.sa_sigaction = OnBusError;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_SIGINFO;
            sigaction(SIGBUS, &action, &g_previous);
        });
    }
#endif

} // namespace

std::shared_ptr<TMappedFile> TMappedFile::Open(
    const std::filesystem::path& path, std::uint64_t maxBytes)
{
#ifdef Q_OS_WIN
    (void)path;
    (void)maxBytes;
    return nullptr;
#else
    // Not blocking on a FIFO or a device; only regular files are mapped.
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return nullptr;
    struct stat status = {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0
        || static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        ::close(file);
        return nullptr;
    }
    InstallGuard();
    const int slot = ReserveRecord();
    if (slot < 0) {
        ::close(file);
        return nullptr;
    }
    TGuardRecord& record = g_records[static_cast<std::size_t>(slot)];
    const auto size = static_cast<std::size_t>(status.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
    if (data == MAP_FAILED) {
        record.begin.store(0);
        ::close(file);
        return nullptr;
    }
    record.file = file;
    record.damaged.store(false);
    record.end.store(reinterpret_cast<std::uintptr_t>(data) + size);
    record.begin.store(reinterpret_cast<std::uintptr_t>(data), std::memory_order_release);
    return std::shared_ptr<TMappedFile>(
        new TMappedFile(static_cast<const std::uint8_t*>(data), size, slot));
#endif
}

TMappedFile::TMappedFile(const std::uint8_t* data, std::size_t size, int slot)
    : m_data(data)
    , m_size(size)
    , m_slot(slot)
{
}

TMappedFile::~TMappedFile()
{
#ifndef Q_OS_WIN
    TGuardRecord& record = g_records[static_cast<std::size_t>(m_slot)];
    record.begin.store(1); // still reserved, no longer looked up
    munmap(const_cast<std::uint8_t*>(m_data), m_size);
    ::close(record.file);
    record.file = -1;
    record.begin.store(0, std::memory_order_release);
#endif
}

bool TMappedFile::Damaged() const
{
#ifdef Q_OS_WIN
    return false;
#else
    const TGuardRecord& record = g_records[static_cast<std::size_t>(m_slot)];
    if (record.damaged.load())
        return true;
    // Cut short within the last page: the rest of that page reads as zeros without a fault.
    struct stat status = {};
    return fstat(record.file, &status) != 0 || static_cast<std::uint64_t>(status.st_size) < m_size;
#endif
}

} // namespace parvula::platform
