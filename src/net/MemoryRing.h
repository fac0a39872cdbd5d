// The memory part of the receive buffer: a ring of bytes in storage that grows as bytes come.
//
// `MemoryRing` keeps bytes in arrival order inside one storage area, wrapping at its end. It
// takes storage only as bytes arrive (doubling from 4 KiB, never beyond a limit the owner
// gives) and gives it back when asked; it does not decide how much it may hold or what goes
// to disk, which is the owning buffer's ordering rule. Not thread-safe: its owner hands it
// between threads. Counts and positions are bytes.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

namespace kairelon {

class MemoryRing {
public:
    int Count() const { return count_; }         // bytes held
    int Allocated() const { return allocated_; } // bytes of storage held now
    int ReadPos() const { return readPos_; }     // offset of the oldest byte
    int WritePos() const { return writePos_; }   // offset where the next byte goes

    // Makes room for `needed` bytes in all: storage grows by doubling (from 4 KiB) up to
    // max(needed, limit). Raises std::bad_alloc and changes nothing when memory runs out.
    void Reserve(int needed, int limit);
    // Adds count bytes behind the held ones; the room must have been reserved.
    void Append(const char* source, int count);
    // Copies the oldest count bytes (at most Count()) without taking them.
    void CopyFromHead(char* destination, int count) const;
    // Takes the oldest count bytes (at most Count()); an emptied ring starts again at offset 0.
    void Drop(int count);
    // The held bytes in order, as at most two pieces (the second after the wrap).
    std::pair<std::string_view, std::string_view> Pieces() const;

    // Storage of exactly `size` bytes holding the held ones from offset 0 (0: none at all).
    // `size` must be at least Count().
    void Resize(int size);
    // Gives all storage back and forgets the held bytes.
    void Release();
    // For a refill of an empty ring: storage for count bytes at offset 0, to be filled by the
    // caller and then taken over with Filled(count).
    char* StorageFor(int count);
    void Filled(int count);
    // Takes over storage that holds count bytes from its start.
    void Adopt(std::unique_ptr<char[]> storage, int count);

private:
    std::unique_ptr<char[]> storage_;
    int allocated_ = 0;
    int count_ = 0;
    int readPos_ = 0;
    int writePos_ = 0;
};

} // namespace kairelon
