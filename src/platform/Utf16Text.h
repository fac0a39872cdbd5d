// UTF-16 bytes and the UTF-8 text the program works with, both ways and without loss.
//
// `DecodeUtf16` turns UTF-16 code units (little or big endian, no byte-order mark) into UTF-8;
// a lone surrogate becomes the UTF-8 form of its unit, and a unit 0xDC80..0xDCFF that pairs
// with nothing becomes the one byte it stands for. `EncodeUtf16` turns UTF-8 into UTF-16 and
// keeps each byte that is no UTF-8 as such a lone unit 0xDC00 + byte, so bytes that are no
// UTF-8 survive a write into a UTF-16 file and the next read. The registry document reads and
// writes exported UTF-16 files with them. This module knows nothing of files or lines.
#pragma once

#include <string>
#include <string_view>

namespace kairelon {

std::string DecodeUtf16(std::string_view bytes, bool bigEndian);
std::string EncodeUtf16(std::string_view text, bool bigEndian);

} // namespace kairelon
