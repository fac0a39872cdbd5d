// The memory status of the machine.
//
// The receive buffer sizes its memory part from the physical memory that is free when it is
// created. This module answers that one question and lets tests replace the answer, so a test
// can give a buffer a known capacity. It does not reserve or limit memory.
#pragma once

#include <cstdint>
#include <functional>

namespace kairelon {

// Physical memory, in bytes, that could be given to a program now without swapping (the
// kernel's MemAvailable estimate; where that is missing, free memory). 0 when unknown. The
// system is asked at most once a second per process; calls in between get that sample.
std::uint64_t AvailablePhysicalMemory();

// Replaces the answer of AvailablePhysicalMemory (for tests); an empty function restores the
// system's answer. Thread-safe.
using MemoryStatusQuery = std::function<std::uint64_t()>;
void SetMemoryStatusQuery(MemoryStatusQuery query);

// Reads the MemAvailable line of a /proc/meminfo text, in bytes; falls back to MemFree; 0
// when neither is present or readable. Exposed for tests.
std::uint64_t ParseAvailableMemory(const char* text, std::size_t length);

} // namespace kairelon
