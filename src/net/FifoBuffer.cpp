#include "net/FifoBuffer.h"

#include "framework/Exception.h"
#include "net/SimpleThread.h"
#include "platform/MemoryStatus.h"
#include "platform/OverflowFile.h"
#include "platform/TempFile.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

namespace kairelon {

namespace {

constexpr int MinimumCapacity = 65536;                    // bytes
constexpr int MaximumCapacity = INT_MAX - INT_MAX % 1024; // bytes, a multiple of 1024
// Bytes of storage an emptied memory part may keep for the next burst: giving back and taking
// again costs a page fault per 4 KiB, which made a spilling stream three times slower.
constexpr int RetainedStorage = 8 << 20;
constexpr int ChunkSize = 65536; // bytes read at once from a file or stream

std::mutex RefillHookLock;
std::function<void()>& RefillHook() {
    static std::function<void()> hook;
    return hook;
}

// Finds the first occurrence of a pattern in a sequence of bytes handed over in pieces,
// including occurrences that straddle the end of one piece and the start of the next: the
// last (length - 1) bytes seen are kept and searched together with the start of each piece.
class SeamSearch {
public:
    explicit SeamSearch(std::string_view pattern) : Pattern(pattern) {}

    // End of the first occurrence, counted in bytes from the start of the first piece, or -1
    // when none has ended within the bytes handed over so far.
    std::int64_t Feed(const char* data, std::size_t length) {
        const std::size_t keep = Pattern.size() - 1;
        if (!Carry.empty() && length > 0) {
            Joint.assign(Carry);
            Joint.append(data, std::min(length, keep));
            // Carry and the appended bytes are each shorter than the pattern, so anything
            // found here straddles the border and starts before anything found below.
            const std::size_t at = std::string_view(Joint).find(Pattern);
            if (at != std::string_view::npos) {
                return Offset - static_cast<std::int64_t>(Carry.size()) +
                       static_cast<std::int64_t>(at + Pattern.size());
            }
        }
        const std::size_t at = std::string_view(data, length).find(Pattern);
        if (at != std::string_view::npos) {
            return Offset + static_cast<std::int64_t>(at + Pattern.size());
        }
        if (length >= keep) {
            Carry.assign(data + length - keep, keep);
        } else {
            Carry.append(data, length);
            if (Carry.size() > keep) {
                Carry.erase(0, Carry.size() - keep);
            }
        }
        Offset += static_cast<std::int64_t>(length);
        return -1;
    }

private:
    std::string_view Pattern;
    std::string Carry;       // the last bytes seen, fewer than the pattern is long
    std::string Joint;       // Carry followed by the start of the current piece
    std::int64_t Offset = 0; // bytes handed over before the current piece
};

void ReadExactly(QIODevice& device, char* destination, std::int64_t count) {
    while (count > 0) {
        const qint64 got = device.read(destination, count);
        if (got <= 0) {
            throw EInOutError("Can't read the stream: " + device.errorString().toStdString());
        }
        destination += got;
        count -= got;
    }
}

} // namespace

TNMFifoBuffer::TNMFifoBuffer() {
    FMemoryCapacity = CalculateThreshold(0.05);
    Init();
}

TNMFifoBuffer::~TNMFifoBuffer() {
    // Always through the lock: once it is ours the refill thread has let go of this object
    // for good, so the lock and everything else may be destroyed.
    {
        std::unique_lock<std::mutex> lock(ShuffleLock);
        ShuffleDone.wait(lock, [this] { return !Shuffling.load(std::memory_order_acquire); });
    }
    DropDiskPart();
}

int TNMFifoBuffer::BufferSize() const {
    return FBufferSize;
}

int TNMFifoBuffer::MemoryCapacity() const {
    return FMemoryCapacity;
}

bool TNMFifoBufferProbe::Refilling(const TNMFifoBuffer& fifo) {
    return fifo.Shuffling.load(std::memory_order_acquire);
}

void TNMFifoBufferProbe::SetRefillHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(RefillHookLock);
    RefillHook() = std::move(hook);
}

int TNMFifoBuffer::CalculateThreshold(double fraction) {
    const double wanted = static_cast<double>(AvailablePhysicalMemory()) * fraction;
    std::int64_t bytes = MaximumCapacity;
    if (!(wanted >= 0)) {
        bytes = 0;
    } else if (wanted < static_cast<double>(MaximumCapacity)) {
        bytes = static_cast<std::int64_t>(wanted);
    }
    bytes -= bytes % 1024;
    return static_cast<int>(std::clamp<std::int64_t>(bytes, MinimumCapacity, MaximumCapacity));
}

void TNMFifoBuffer::Init() {
    Memory.Release();
    FBufferSize = 0;
    DiskCount = 0;
    DiskWritePos = 0;
    DiskReadPos = 0;
    RefillError.clear();
    Shuffling.store(false, std::memory_order_relaxed);
}

void TNMFifoBuffer::InitDiskBuffer() {
    DiskStream = std::make_unique<OverflowFile>(TempDirectory());
    DiskCount = 0;
    DiskWritePos = 0;
    DiskReadPos = 0;
}

void TNMFifoBuffer::DropDiskPart() {
    DiskStream.reset(); // the file has no name: closing it is deleting it
}

inline void TNMFifoBuffer::WaitForRefill(bool raiseRefillError) {
    // The common case, nothing running and nothing to report, costs one load and one test.
    if (Shuffling.load(std::memory_order_acquire) || (raiseRefillError && !RefillError.empty())) {
        WaitForRefillSlowly(raiseRefillError);
    }
}

void TNMFifoBuffer::WaitForRefillSlowly(bool raiseRefillError) {
    if (Shuffling.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> lock(ShuffleLock);
        ShuffleDone.wait(lock, [this] { return !Shuffling.load(std::memory_order_acquire); });
    }
    if (raiseRefillError && !RefillError.empty()) {
        std::string error;
        error.swap(RefillError);
        throw EInOutError(error);
    }
}

void TNMFifoBuffer::StartRefill() {
    // Set before the thread exists; starting a thread orders this write before its first step.
    Shuffling.store(true, std::memory_order_relaxed);
    try {
        ExecuteInThread(this, [](void* data) { static_cast<TNMFifoBuffer*>(data)->Shuffle(data); });
    } catch (const std::exception&) {
        Shuffle(this); // no thread to be had: refill here and now rather than never
    }
}

void TNMFifoBuffer::Shuffle(void*) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(RefillHookLock);
        hook = RefillHook();
    }
    std::string error;
    try {
        if (hook) {
            hook();
        }
        const int moved = std::min(DiskCount, FMemoryCapacity);
        if (DiskStream && Memory.Count() == 0 && moved > 0) {
            ReadDisk(DiskReadPos, Memory.StorageFor(moved), moved);
            Memory.Filled(moved);
            DiskCount -= moved;
            if (DiskCount > 0) {
                DiskStream->Discard(DiskReadPos, moved);
                DiskReadPos += moved;
            } else {
                DiskReadPos = 0;
                DiskWritePos = 0;
                DiskStream->Truncate();
            }
        }
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "Can't refill the receive buffer";
    }
    // The last touch of this object by the refill thread; the owner may destroy it as soon as
    // it holds the lock after this.
    std::lock_guard<std::mutex> lock(ShuffleLock);
    RefillError = std::move(error);
    Shuffling.store(false, std::memory_order_release);
    ShuffleDone.notify_all();
}

void TNMFifoBuffer::ReadDisk(std::int64_t position, char* destination, std::int64_t count) {
    DiskStream->Read(position, destination, count);
}

void TNMFifoBuffer::WriteDisk(std::int64_t position, const char* source, std::int64_t count) {
    DiskStream->Write(position, source, count);
}

int TNMFifoBuffer::Append(const void* source, int count) {
    WaitForRefill();
    if (count <= 0) {
        return 0;
    }
    if (source == nullptr) {
        throw Exception("Can't read the source buffer");
    }
    if (count > INT_MAX - FBufferSize) {
        throw ERangeError("The receive buffer can't hold more than 2147483647 bytes");
    }
    const char* bytes = static_cast<const char*>(source);
    // While the disk part holds bytes every new byte goes behind them, so order is kept.
    const int toMemory = DiskCount > 0 ? 0 : std::clamp(FMemoryCapacity - Memory.Count(), 0, count);
    const int toDisk = count - toMemory;

    // Everything that can fail comes first, so a failure leaves the queue as it was.
    Memory.Reserve(Memory.Count() + toMemory, FMemoryCapacity);
    if (toDisk > 0) {
        if (!DiskStream) {
            InitDiskBuffer();
        }
        WriteDisk(DiskWritePos, bytes + toMemory, toDisk);
        DiskWritePos += toDisk;
        DiskCount += toDisk;
    }
    Memory.Append(bytes, toMemory);
    FBufferSize += count;
    return count;
}

inline int TNMFifoBuffer::CopyFromHead(char* destination, int count, int& fromDisk) {
    const int fromMemory = std::min(count, Memory.Count());
    Memory.CopyFromHead(destination, fromMemory);
    fromDisk = 0;
    if (fromMemory < count && DiskCount > 0 && DiskStream) {
        fromDisk = std::min(count - fromMemory, DiskCount);
        ReadDisk(DiskReadPos, destination + fromMemory, fromDisk);
    }
    return fromMemory;
}

int TNMFifoBuffer::Peek(void* destination, int count) {
    WaitForRefill();
    if (count <= 0 || FBufferSize <= 0) {
        return 0;
    }
    if (destination == nullptr) {
        throw Exception("Can't write to the destination buffer");
    }
    int fromDisk = 0;
    const int fromMemory = CopyFromHead(static_cast<char*>(destination), count, fromDisk);
    return fromMemory + fromDisk;
}

int TNMFifoBuffer::Remove(void* destination, int count) {
    WaitForRefill();
    if (count <= 0 || FBufferSize <= 0) {
        return 0;
    }
    if (destination == nullptr) {
        throw Exception("Can't write to the destination buffer");
    }
    int fromDisk = 0;
    const int fromMemory = CopyFromHead(static_cast<char*>(destination), count, fromDisk);

    Memory.Drop(fromMemory);
    DiskCount -= fromDisk;
    DiskReadPos += fromDisk;
    if (fromDisk > 0 && DiskCount == 0) {
        DiskReadPos = 0;
        DiskWritePos = 0;
        DiskStream->Truncate();
    }
    FBufferSize -= fromMemory + fromDisk;

    if (Memory.Count() == 0) {
        if (DiskCount > 0) {
            StartRefill(); // returns at once; the next operation waits for it
        } else if (Memory.Allocated() > RetainedStorage) {
            Memory.Release();
        }
    }
    return fromMemory + fromDisk;
}

int TNMFifoBuffer::Search(const char* pattern) {
    WaitForRefill();
    if (FBufferSize < 1 || pattern == nullptr) {
        return 0;
    }
    const std::size_t length = ::strnlen(pattern, MaxPatternLength + 1);
    if (length > static_cast<std::size_t>(MaxPatternLength) ||
        length > static_cast<std::size_t>(FBufferSize)) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    SeamSearch search(std::string_view(pattern, length));
    std::int64_t end = -1;
    const auto [first, second] = Memory.Pieces();
    if (!first.empty()) {
        end = search.Feed(first.data(), first.size());
    }
    if (end < 0 && !second.empty()) {
        end = search.Feed(second.data(), second.size());
    }
    if (end < 0 && DiskCount > 0 && DiskStream) {
        std::unique_ptr<char[]> chunk(new char[ChunkSize]);
        for (std::int64_t done = 0; end < 0 && done < DiskCount;) {
            const int piece = static_cast<int>(std::min<std::int64_t>(ChunkSize, DiskCount - done));
            ReadDisk(DiskReadPos + done, chunk.get(), piece);
            end = search.Feed(chunk.get(), static_cast<std::size_t>(piece));
            done += piece;
        }
    }
    return end < 0 ? 0 : static_cast<int>(end);
}

void TNMFifoBuffer::Clear() {
    WaitForRefill(false); // everything goes, including the bytes a failed refill left behind
    DropDiskPart();
    Init();
}

void TNMFifoBuffer::LoadFromStream(QIODevice& stream) {
    WaitForRefill();
    QBuffer whole;
    QIODevice* source = &stream;
    if (stream.isSequential()) {
        // A sequential device has no size and cannot be rewound: take what it delivers.
        whole.setData(stream.readAll());
        whole.open(QIODevice::ReadOnly);
        source = &whole;
    } else if (!stream.seek(0)) {
        throw EInOutError("Can't rewind the stream: " + stream.errorString().toStdString());
    }
    const qint64 size = source->size();
    if (size <= 0) {
        return;
    }
    if (size > INT_MAX) {
        throw ERangeError("The receive buffer can't hold more than 2147483647 bytes");
    }
    const int count = static_cast<int>(size);

    if (count <= FMemoryCapacity) {
        std::unique_ptr<char[]> storage(new char[static_cast<std::size_t>(count)]);
        ReadExactly(*source, storage.get(), count);
        Memory.Adopt(std::move(storage), count);
        if (DiskStream) {
            DiskStream->Truncate();
        }
        DiskCount = 0;
        DiskReadPos = 0;
        DiskWritePos = 0;
        FBufferSize = count;
        return;
    }

    if (!DiskStream) {
        InitDiskBuffer();
    }
    // Written behind the bytes the disk part holds now, so a failed load loses nothing.
    const std::int64_t base = DiskCount > 0 ? DiskWritePos : 0;
    std::unique_ptr<char[]> chunk(new char[ChunkSize]);
    for (std::int64_t done = 0; done < count;) {
        const int piece = static_cast<int>(std::min<std::int64_t>(ChunkSize, count - done));
        ReadExactly(*source, chunk.get(), piece);
        WriteDisk(base + done, chunk.get(), piece);
        done += piece;
    }
    if (base > 0) {
        DiskStream->Discard(0, base);
    }
    Memory.Release();
    DiskReadPos = base;
    DiskWritePos = base + count;
    DiskCount = count;
    FBufferSize = count;
    StartRefill();
}

void TNMFifoBuffer::LoadFromFile(const std::string& fileName) {
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        throw EFOpenError("Cannot open file \"" + fileName +
                          "\": " + file.errorString().toStdString());
    }
    LoadFromStream(file);
}

void TNMFifoBuffer::SetMemoryBufferCapacity(int value) {
    WaitForRefill();
    if (value < 1) {
        throw ERangeError("The memory capacity must be at least 1 byte");
    }
    if (value < Memory.Count()) {
        throw Exception("Can not lower memory capacity at this time");
    }
    if (Memory.Allocated() > value) {
        Memory.Resize(value);
    }
    FMemoryCapacity = value;
}

TNMFifoLayout TNMFifoBufferProbe::Layout(TNMFifoBuffer& fifo) {
    fifo.WaitForRefill(false);
    TNMFifoLayout layout;
    layout.MemoryCount = fifo.Memory.Count();
    layout.MemoryReadPos = fifo.Memory.ReadPos();
    layout.MemoryWritePos = fifo.Memory.WritePos();
    layout.MemoryAllocated = fifo.Memory.Allocated();
    layout.DiskCount = fifo.DiskCount;
    layout.DiskReadPos = fifo.DiskReadPos;
    layout.DiskWritePos = fifo.DiskWritePos;
    layout.OverflowHandle = fifo.DiskStream ? fifo.DiskStream->Handle() : -1;
    return layout;
}

} // namespace kairelon
