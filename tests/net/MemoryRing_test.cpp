// The memory part of the receive buffer: bytes come out in the order they went in, across the
// wrap of the ring and across every change of its storage.
#include "net/MemoryRing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>

using namespace kairelon;

namespace {

std::string Held(const MemoryRing& ring) {
    std::string out(static_cast<std::size_t>(ring.Count()), '\0');
    ring.CopyFromHead(out.data(), ring.Count());
    const auto [first, second] = ring.Pieces();
    EXPECT_EQ(std::string(first) + std::string(second), out) << "pieces and copy disagree";
    return out;
}

} // namespace

TEST(MemoryRing, TakesStorageOnlyAsBytesComeAndWithinItsLimit) {
    MemoryRing ring;
    EXPECT_EQ(ring.Allocated(), 0);
    ring.Reserve(10, 100000);
    EXPECT_EQ(ring.Allocated(), 4096);
    ring.Reserve(5000, 100000);
    EXPECT_EQ(ring.Allocated(), 8192);
    ring.Reserve(9000, 10000);
    EXPECT_EQ(ring.Allocated(), 10000); // doubling stops at the limit
    ring.Reserve(12000, 10000);
    EXPECT_EQ(ring.Allocated(), 12000); // but never below what is needed
    ring.Release();
    EXPECT_EQ(ring.Allocated(), 0);
}

TEST(MemoryRing, BytesKeepTheirOrderAcrossTheWrapAndEveryResize) {
    std::mt19937 random(7);
    MemoryRing ring;
    std::deque<char> model;
    for (int step = 0; step < 2000; ++step) {
        const int action = static_cast<int>(random() % 4);
        if (action <= 1) {
            const int count = static_cast<int>(random() % 300);
            std::string bytes(static_cast<std::size_t>(count), '\0');
            for (char& c : bytes)
                c = static_cast<char>(random());
            ring.Reserve(ring.Count() + count, 6000);
            ring.Append(bytes.data(), count);
            model.insert(model.end(), bytes.begin(), bytes.end());
        } else if (action == 2) {
            const int count = static_cast<int>(random() % 400);
            ring.Drop(count);
            model.erase(model.begin(), model.begin() + std::min<std::size_t>(count, model.size()));
        } else if (random() % 8 == 0) {
            ring.Resize(ring.Count() + static_cast<int>(random() % 50));
        }
        ASSERT_EQ(ring.Count(), static_cast<int>(model.size()));
        ASSERT_LE(ring.Count(), ring.Allocated());
        ASSERT_EQ(Held(ring), std::string(model.begin(), model.end())) << "step " << step;
    }
}

TEST(MemoryRing, AnEmptiedRingStartsAgainAtItsStart) {
    MemoryRing ring;
    ring.Reserve(100, 4096);
    ring.Append("abcdef", 6);
    ring.Drop(4);
    EXPECT_EQ(ring.ReadPos(), 4);
    ring.Drop(10); // more than held: all of it
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.ReadPos(), 0);
    EXPECT_EQ(ring.WritePos(), 0);
    EXPECT_EQ(ring.Allocated(), 4096) << "storage is kept for the next burst";
}

TEST(MemoryRing, ARefillAndAnAdoptedStorageHoldTheirBytesFromTheStart) {
    MemoryRing ring;
    std::memcpy(ring.StorageFor(5), "hello", 5);
    ring.Filled(5);
    EXPECT_EQ(Held(ring), "hello");
    EXPECT_EQ(ring.WritePos(), 0); // exactly full
    std::unique_ptr<char[]> storage(new char[3]{'x', 'y', 'z'});
    ring.Adopt(std::move(storage), 3);
    EXPECT_EQ(Held(ring), "xyz");
    EXPECT_EQ(ring.Allocated(), 3);
}
