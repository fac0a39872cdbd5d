// The overflow file of the receive buffer: a temporary file without a name.
//
// `OverflowFile` owns the descriptor of a new file in the folder for temporary files
// (TempDirectory). The file never has a name, or loses it the moment it is open, so the
// bytes it holds vanish with the descriptor: when the owner closes it, and when the process
// ends in any way, a crash or a kill included. Nobody can open it by name in between. It
// offers what a byte queue needs of its disk part: read and write at an offset, give the
// space of a consumed range back, and cut the file to length 0. It knows nothing of which
// bytes are held; that is the owner's bookkeeping. Not thread-safe: one user at a time.
#pragma once

#include <cstdint>
#include <string>

namespace kairelon {

class OverflowFile {
public:
    // Makes the file in `directory`, readable and writable by the current user only. Raises
    // EOSError with the system's reason when no file can be made.
    explicit OverflowFile(const std::string& directory);
    ~OverflowFile();
    OverflowFile(const OverflowFile&) = delete;
    OverflowFile& operator=(const OverflowFile&) = delete;

    // Exactly count bytes at the offset (bytes); raise EInOutError when they cannot be read
    // or written (a read beyond the end included).
    void Read(std::int64_t offset, char* destination, std::int64_t count) const;
    void Write(std::int64_t offset, const char* source, std::int64_t count);
    // Gives the disk space of [offset, offset + length) back without changing the size; the
    // range then reads as zeros. Best effort, never raises.
    void Discard(std::int64_t offset, std::int64_t length);
    // Cuts the file to length 0; false when the system refuses (the bytes then stay, unread).
    bool Truncate();

    std::int64_t Size() const;         // bytes; -1 when it cannot be told
    int Handle() const { return fd_; } // for checks and tests

private:
    int fd_ = -1;
};

} // namespace kairelon
