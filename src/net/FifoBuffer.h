// The receive buffer of the socket component: a first-in-first-out byte queue.
//
// `TNMFifoBuffer` holds the bytes a socket has received and not yet read. Bytes live in a
// memory part up to `MemoryCapacity` (5 % of the free physical memory at construction, at
// least 64 KiB); whatever does not fit goes to a temporary overflow file (the disk part). When
// the memory part has been read empty while the file holds bytes, a background thread moves
// the next block into memory (the refill); every public operation first waits for a running
// refill. Memory is taken as bytes arrive, not up front: `MemoryCapacity` is the threshold at
// which bytes spill, not an allocation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class QFile;
class QIODevice;

namespace kairelon {

class TNMFifoBuffer {
public:
    TNMFifoBuffer();
    ~TNMFifoBuffer();
    TNMFifoBuffer(const TNMFifoBuffer&) = delete;
    TNMFifoBuffer& operator=(const TNMFifoBuffer&) = delete;

    int Append(const void* source, int count);   // bytes taken
    int Remove(void* destination, int count);    // bytes taken from the head
    int Peek(void* destination, int count);      // bytes copied, nothing taken
    int Search(const char* pattern);             // end of first occurrence; 0 none; -1 too long
    void Clear();
    void LoadFromStream(QIODevice& stream);
    void LoadFromFile(const std::string& fileName);
    void _SetMemoryBufferCapacity(int value);

    int BufferSize() const;     // total bytes held, memory and disk part
    int MemoryCapacity() const; // bytes the memory part holds before spilling
};

} // namespace kairelon
