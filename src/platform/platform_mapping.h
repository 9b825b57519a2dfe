// A file's bytes mapped into memory read-only, so a decoder reads them without a copy; guarded
// against the file shrinking (or failing to read) while it is mapped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace parvula::platform {

class TMappedFile {
public:
    // The file's bytes mapped, or nullptr when the file cannot be mapped (not a regular file,
    // empty, larger than maxBytes, unreadable, too many files mapped at once, the guard not in
    // place, or no mapping on this system): the caller then reads it the ordinary way, which
    // reports the reason.
    static std::shared_ptr<TMappedFile> Open(
        const std::filesystem::path& path, std::uint64_t maxBytes);

    ~TMappedFile();
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    std::span<const std::uint8_t> Bytes() const { return { m_data, m_size }; }

    // A reader is done, for now, with the bytes before offset: their whole pages leave the
    // process's memory and are read from the file again should they be needed again. A decoder
    // streaming a large file thereby holds only the part it is reading.
    void LetGo(std::size_t offset) const;

    // True once a page could not be read because the file shrank or the device failed (those
    // pages read as zeros instead of ending the process), or once the file is not as it was
    // when mapped: whatever was made from the bytes must then be thrown away.
    bool Damaged() const;

private:
    TMappedFile();
    struct TState; // the file kept open, as it was when mapped, and the guard's record
    std::unique_ptr<TState> m_state;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace parvula::platform
