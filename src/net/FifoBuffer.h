// The receive buffer of the socket component: a first-in-first-out byte queue.
//
// `TNMFifoBuffer` holds the bytes a socket has received and not yet read. Bytes live in a
// memory part up to `MemoryCapacity` (5 % of the free physical memory at construction, at
// least 64 KiB); whatever does not fit goes to a temporary overflow file (the disk part). When
// the memory part has been read empty while the file holds bytes, a background thread moves
// the next block into memory (the refill); every public operation first waits for a running
// refill. Memory is taken as bytes arrive, not up front: `MemoryCapacity` is the threshold at
// which bytes spill, not an allocation.
//
// Owner and threads: one thread (the owner) calls every public operation; the only other
// thread is the refill (a self-freeing TSimpleThread, at most one at a time). The hand-over is
// the atomic `Shuffling`: the owner sets it before it starts the refill, the refill clears it
// as its last action with release ordering, and every operation waits on it (acquire; a
// condition variable, never a busy poll) before touching anything else, so all writes of the
// refill are visible once the flag is seen clear. `BufferSize()` and `MemoryCapacity()` read
// fields the refill never writes and do not wait.
//
// How the parts are kept: the buffer itself holds only the ordering rule between its two
// parts and the refill hand-over; the parts are a `MemoryRing` (net/MemoryRing.h) and an
// `OverflowFile` (platform/OverflowFile.h). Tests look inside through `TNMFifoBufferProbe`.
// - The memory part is a ring inside a storage area that grows as bytes arrive (doubling, at
//   most to `MemoryCapacity`). When the memory part runs empty, storage of up to 8 MiB is kept
//   for the next burst and larger storage is given back; `Clear` gives back all. A new buffer
//   holds no storage at all.
// - All memory bytes are older than all disk bytes: while the disk part holds bytes, every
//   appended byte goes to the disk part, even if the memory part has room.
// - The overflow file (platform/OverflowFile.h, in $TMPDIR or /tmp, mode 0600) is made at the
//   first spill and has no name, so received bytes never outlive the process on disk, not even
//   after a crash or a kill; `Clear` and the destructor close it. When it runs empty it is cut
//   back to length 0 and reused from its start; ranges the refill has moved into memory are
//   given back to the file system at once, so a long stream never piles up on disk.
//
// Decisions where the queue's contract left room:
// - `Remove`/`Peek` with a count beyond the bytes held deliver exactly the bytes held.
// - `Search` waits for a running refill before it looks, searches every held byte (a zero byte
//   hides nothing) and finds occurrences across the memory/disk seam and across the chunks in
//   which it reads the file. Patterns of up to 65535 bytes are supported; longer ones give -1.
// - Raising `MemoryCapacity` while the disk part holds bytes is allowed (order is kept by the
//   rule above); values below 1 raise ERangeError; values below the bytes in memory raise
//   "Can not lower memory capacity at this time". Lowering it releases storage above it.
// - `BufferSize` is 32-bit: an `Append` that would take it beyond 2147483647 bytes raises
//   ERangeError and takes nothing. File offsets are 64-bit.
// - A failed write of the overflow file raises EInOutError from `Append` with nothing taken; a
//   failed read raises EInOutError from the operation with nothing changed. A refill that
//   fails leaves the bytes where they were and its error is raised by the next operation.
// - `LoadFromStream`, `LoadFromFile` and `SetMemoryBufferCapacity` wait for a refill too; a
//   load that fails (stream unreadable, disk full) raises and leaves the previous content.
// - The pointer checks of the source and destination are reduced to refusing null pointers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/MemoryRing.h"

class QIODevice;

namespace kairelon {

class OverflowFile;

// Where the bytes of a queue are at a moment; for tests and diagnostics.
struct TNMFifoLayout {
    int MemoryCount = 0;           // bytes in the memory part
    int MemoryReadPos = 0;         // ring offset of the oldest memory byte
    int MemoryWritePos = 0;        // ring offset where the next memory byte goes
    int MemoryAllocated = 0;       // bytes of storage the memory part holds now
    int DiskCount = 0;             // bytes in the disk part
    std::int64_t DiskReadPos = 0;  // file offset of the oldest disk byte
    std::int64_t DiskWritePos = 0; // file offset where the next spilled byte goes
    int OverflowHandle = -1;       // descriptor of the overflow file; -1 while there is none
};

class TNMFifoBuffer {
public:
    TNMFifoBuffer();
    ~TNMFifoBuffer();
    TNMFifoBuffer(const TNMFifoBuffer&) = delete;
    TNMFifoBuffer& operator=(const TNMFifoBuffer&) = delete;

    int Append(const void* source, int count); // bytes taken
    int Remove(void* destination, int count);  // bytes taken from the head
    int Peek(void* destination, int count);    // bytes copied, nothing taken
    int Search(const char* pattern);           // end of first occurrence; 0 none; -1 too long
    void Clear();
    void LoadFromStream(QIODevice& stream);
    void LoadFromFile(const std::string& fileName);
    void SetMemoryBufferCapacity(int value);

    int BufferSize() const;     // total bytes held, memory and disk part
    int MemoryCapacity() const; // bytes the memory part holds before spilling

    static constexpr int MaxPatternLength = 65535; // bytes; longer patterns give -1

private:
    void Init();
    void InitDiskBuffer();
    static int CalculateThreshold(double fraction);
    void Shuffle(void* data);

    void WaitForRefill(bool raiseRefillError = true);
    void WaitForRefillSlowly(bool raiseRefillError);
    void StartRefill();
    void DropDiskPart();
    void ReadDisk(std::int64_t position, char* destination, std::int64_t count);
    void WriteDisk(std::int64_t position, const char* source, std::int64_t count);
    int CopyFromHead(char* destination, int count, int& fromDisk);

    int FBufferSize = 0;                      // bytes held, memory plus disk part
    int FMemoryCapacity = 0;                  // bytes the memory part may hold before spilling
    MemoryRing Memory;                        // the memory part
    std::unique_ptr<OverflowFile> DiskStream; // the disk part; absent until the first spill
    int DiskCount = 0;                        // bytes held in the disk part
    std::int64_t DiskWritePos = 0;            // file offset where the next spilled byte goes
    std::int64_t DiskReadPos = 0;             // file offset of the oldest disk byte
    std::atomic<bool> Shuffling{false};       // a refill runs; it alone touches the fields
    std::mutex ShuffleLock;                   // with ShuffleDone: the wait for the refill's end
    std::condition_variable ShuffleDone;      // notified when Shuffling is cleared
    std::string RefillError;                  // why the last refill failed; empty when it did not

    friend class TNMFifoBufferProbe;
};

// What tests and diagnostics may see of a queue, apart from its interface.
class TNMFifoBufferProbe {
public:
    // Waits for a refill, then reports where the bytes are.
    static TNMFifoLayout Layout(TNMFifoBuffer& fifo);
    // Whether a refill is running now.
    static bool Refilling(const TNMFifoBuffer& fifo);
    // Runs at the start of every refill, on the refill thread (tests slow the refill down
    // with it); an empty function removes it. Process-wide.
    static void SetRefillHook(std::function<void()> hook);
};

} // namespace kairelon
