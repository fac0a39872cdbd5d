#include "net/MemoryRing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kairelon {

namespace {

constexpr int FirstAllocation = 4096; // bytes of the first storage

} // namespace

void MemoryRing::Reserve(int needed, int limit) {
    if (needed <= allocated_) {
        return;
    }
    const std::int64_t grown =
        std::max<std::int64_t>({needed, std::int64_t{allocated_} * 2, FirstAllocation});
    Resize(static_cast<int>(std::min<std::int64_t>(grown, std::max(needed, limit))));
}

void MemoryRing::Append(const char* source, int count) {
    if (count <= 0) {
        return;
    }
    const int first = std::min(count, allocated_ - writePos_);
    std::memcpy(storage_.get() + writePos_, source, static_cast<std::size_t>(first));
    if (first < count) {
        std::memcpy(storage_.get(), source + first, static_cast<std::size_t>(count - first));
    }
    writePos_ += count;
    if (writePos_ >= allocated_) {
        writePos_ -= allocated_;
    }
    count_ += count;
}

void MemoryRing::CopyFromHead(char* destination, int count) const {
    count = std::min(count, count_);
    if (count <= 0) {
        return;
    }
    const int first = std::min(count, allocated_ - readPos_);
    std::memcpy(destination, storage_.get() + readPos_, static_cast<std::size_t>(first));
    if (first < count) {
        std::memcpy(destination + first, storage_.get(), static_cast<std::size_t>(count - first));
    }
}

void MemoryRing::Drop(int count) {
    count = std::clamp(count, 0, count_);
    count_ -= count;
    readPos_ += count;
    if (readPos_ >= allocated_) {
        readPos_ -= allocated_;
    }
    if (count_ == 0) {
        readPos_ = 0;
        writePos_ = 0;
    }
}

std::pair<std::string_view, std::string_view> MemoryRing::Pieces() const {
    if (count_ == 0) {
        return {};
    }
    const int first = std::min(count_, allocated_ - readPos_);
    return {std::string_view(storage_.get() + readPos_, static_cast<std::size_t>(first)),
            std::string_view(storage_.get(), static_cast<std::size_t>(count_ - first))};
}

void MemoryRing::Resize(int size) {
    if (size <= 0) {
        Release();
        return;
    }
    std::unique_ptr<char[]> storage(new char[static_cast<std::size_t>(size)]);
    CopyFromHead(storage.get(), count_);
    storage_ = std::move(storage);
    allocated_ = size;
    readPos_ = 0;
    writePos_ = count_ % size;
}

void MemoryRing::Release() {
    storage_.reset();
    allocated_ = 0;
    count_ = 0;
    readPos_ = 0;
    writePos_ = 0;
}

char* MemoryRing::StorageFor(int count) {
    if (allocated_ < count) {
        Release();
        storage_.reset(new char[static_cast<std::size_t>(count)]);
        allocated_ = count;
    }
    return storage_.get();
}

void MemoryRing::Filled(int count) {
    readPos_ = 0;
    count_ = count;
    writePos_ = allocated_ > 0 ? count % allocated_ : 0;
}

void MemoryRing::Adopt(std::unique_ptr<char[]> storage, int count) {
    storage_ = std::move(storage);
    allocated_ = count;
    count_ = count;
    readPos_ = 0;
    writePos_ = 0;
}

} // namespace kairelon
