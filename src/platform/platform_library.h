// A shared library opened by its file name when a file first needs it, so that a codec only
// some files need costs a process nothing until then.
#pragma once

namespace parvula::platform {

// Kept open for the rest of the process once opened: functions taken from it may be called
// until the very end, from any thread.
class TSharedLibrary {
public:
    // Opens the library where the system's loader finds a linked one; one that cannot be
    // opened (or misses a library of its own) has no functions.
    explicit TSharedLibrary(const char* fileName);
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;

    // The address of an exported function, or nullptr when the library lacks it (or could not
    // be opened).
    void* Symbol(const char* name) const;

private:
    void* m_handle = nullptr;
};

} // namespace parvula::platform
