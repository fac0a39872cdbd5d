// Replays byte-coded operation sequences on the receive FIFO and on a plain string as a model
// and stops at the first byte, count or search result on which they differ.
//
// Input: the first byte picks the memory capacity (1..256 bytes, so almost everything spills
// and comes back by refills); then each operation is one byte (operation in the low 3 bits)
// followed by its arguments. Amounts stay a few KiB, many times the capacity, so every input
// spills and refills and a run tries many inputs. One queue serves every input, emptied at
// its start, so an input makes no overflow file of its own (and reads no memory status) as
// long as it does not clear the queue.
#include "framework/Exception.h"
#include "net/FifoBuffer.h"

#include <QBuffer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using kairelon::TNMFifoBuffer;
using kairelon::TNMFifoBufferProbe;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
    bool Empty() const { return Position >= Size; }
    std::uint8_t Byte() { return Position < Size ? Data[Position++] : 0; }
    int Count() { return Byte() | (Byte() << 8); } // 0..65535
    std::string Bytes(std::size_t count) {
        std::string bytes;
        for (std::size_t i = 0; i < count; ++i) {
            bytes.push_back(static_cast<char>(Byte() ^ static_cast<std::uint8_t>(i * 31)));
        }
        return bytes;
    }

private:
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Position = 0;
};

[[noreturn]] void Differ(const char* what) {
    std::fprintf(stderr, "FIFO and model differ: %s\n", what);
    std::abort();
}

int ModelSearch(const std::string& model, const std::string& pattern) {
    if (model.empty() || pattern.empty()) {
        return 0;
    }
    if (pattern.size() > model.size()) {
        return -1;
    }
    const auto at = std::search(model.begin(), model.end(), pattern.begin(), pattern.end());
    return at == model.end() ? 0 : static_cast<int>(at - model.begin() + pattern.size());
}

} // namespace

// The refill is a self-freeing thread that may end just after an input returns, so its last
// frees often fall into no input: libFuzzer's check for a leak after every input would then
// scan the whole heap most of the time, for nothing. Leaks are still reported when the run
// ends. Given first, the flag yields to a -detect_leaks given on the command line.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> arguments;
    static char noLeakCheck[] = "-detect_leaks=0";
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + (*argc > 0 ? 1 : 0), noLeakCheck);
    arguments.push_back(nullptr);
    *argc = static_cast<int>(arguments.size()) - 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    static TNMFifoBuffer fifo;
    std::vector<char> rest(static_cast<std::size_t>(fifo.BufferSize()) + 1);
    if (fifo.Remove(rest.data(), fifo.BufferSize()) != static_cast<int>(rest.size()) - 1 ||
        fifo.BufferSize() != 0) {
        Differ("emptying");
    }
    fifo.SetMemoryBufferCapacity(1 + in.Byte());
    std::string model;
    std::vector<char> out;
    for (int steps = 0; !in.Empty() && steps < 64; ++steps) {
        const std::uint8_t op = in.Byte();
        switch (op & 7) {
        case 0:   // append up to 1 KiB
        case 7: { // append a block of repeated input, up to 8 KiB, to fill the disk part
            const std::string bytes = (op & 7) == 0
                                          ? in.Bytes(in.Count() % 1025)
                                          : std::string(static_cast<std::size_t>(in.Byte()) * 32,
                                                        static_cast<char>(in.Byte()));
            if (fifo.Append(bytes.data(), static_cast<int>(bytes.size())) !=
                static_cast<int>(bytes.size())) {
                Differ("append count");
            }
            model.insert(model.end(), bytes.begin(), bytes.end());
            break;
        }
        case 1:
        case 2: { // remove or peek, possibly more than is held
            const int count = in.Count() % 4097 * ((op & 0x80) ? 4 : 1);
            out.assign(static_cast<std::size_t>(count) + 1, '\x5A');
            const int got =
                (op & 7) == 1 ? fifo.Remove(out.data(), count) : fifo.Peek(out.data(), count);
            if (got != std::min<int>(count, static_cast<int>(model.size()))) {
                Differ("remove/peek count");
            }
            if (!std::equal(out.begin(), out.begin() + got, model.begin()) ||
                out[static_cast<std::size_t>(got)] != '\x5A') {
                Differ("remove/peek bytes");
            }
            if ((op & 7) == 1) {
                model.erase(model.begin(), model.begin() + got);
            }
            break;
        }
        case 3: { // search for a piece of the content (from an offset) or for input bytes
            std::string pattern;
            const int length = 1 + in.Byte() % 64;
            if ((op & 0x08) && !model.empty()) {
                const std::size_t from = static_cast<std::size_t>(in.Count()) % model.size();
                for (std::size_t i = from;
                     i < model.size() && pattern.size() < static_cast<std::size_t>(length); ++i) {
                    if (model[i] == '\0') {
                        break;
                    }
                    pattern.push_back(model[i]);
                }
            } else {
                for (char c : in.Bytes(static_cast<std::size_t>(length))) {
                    if (c != '\0') {
                        pattern.push_back(c);
                    }
                }
            }
            if (fifo.Search(pattern.c_str()) != ModelSearch(model, pattern)) {
                Differ("search");
            }
            break;
        }
        case 4:
            fifo.Clear();
            model.clear();
            break;
        case 5: { // load a stream
            const std::string bytes = in.Bytes(in.Count() % 2049);
            QByteArray array(bytes.data(), static_cast<qsizetype>(bytes.size()));
            QBuffer stream(&array);
            stream.open(QIODevice::ReadOnly);
            fifo.LoadFromStream(stream);
            if (!bytes.empty()) {
                model.assign(bytes.begin(), bytes.end());
            }
            break;
        }
        case 6: { // change the capacity; refused below the bytes in memory
            const int capacity = 1 + in.Byte() * 2;
            const int inMemory = TNMFifoBufferProbe::Layout(fifo).MemoryCount;
            bool refused = false;
            try {
                fifo.SetMemoryBufferCapacity(capacity);
            } catch (const kairelon::Exception&) {
                refused = true;
            }
            if (refused != (capacity < inMemory)) {
                Differ("capacity change");
            }
            break;
        }
        }
        if (fifo.BufferSize() != static_cast<int>(model.size())) {
            Differ("size");
        }
    }
    return 0;
}
