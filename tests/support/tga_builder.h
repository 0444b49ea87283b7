#pragma once

// Builds TGA files byte by byte for the tests, so that every header field and
// every packet is spelled out where the test uses it.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace weftloom::test {

struct TgaHeader {
    std::uint8_t idLength = 0;
    std::uint8_t colorMapType = 0;
    std::uint8_t imageType = 2;
    std::uint16_t firstEntry = 0;
    std::uint16_t mapLength = 0;
    std::uint8_t entryBits = 0;
    std::uint16_t xOrigin = 0;
    std::uint16_t yOrigin = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 24;
    std::uint8_t descriptor = 0x20;
};

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

// The 18 header bytes.
inline std::vector<std::uint8_t> HeaderBytes(const TgaHeader& h) {
    auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](unsigned v) { return static_cast<std::uint8_t>(v >> 8); };
    return {h.idLength,      h.colorMapType,  h.imageType, lo(h.firstEntry), hi(h.firstEntry),
            lo(h.mapLength), hi(h.mapLength), h.entryBits, lo(h.xOrigin),    hi(h.xOrigin),
            lo(h.yOrigin),   hi(h.yOrigin),   lo(h.width), hi(h.width),      lo(h.height),
            hi(h.height),    h.depth,         h.descriptor};
}

inline void Append(std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
}
inline void Append(std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
}

// One colour stored in `size` bytes as the file holds it: 1 grey (red is
// used), 2 the word A1 R5 G5 B5 little-endian, 3 B G R, 4 B G R A.
inline std::vector<std::uint8_t> StoredValue(Rgba c, unsigned size) {
    switch (size) {
        case 1:
            return {c.r};
        case 2: {
            const unsigned word = (c.a >= 128 ? 0x8000u : 0u) | (unsigned{c.r} >> 3) << 10 |
                                  (unsigned{c.g} >> 3) << 5 | (unsigned{c.b} >> 3);
            return {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)};
        }
        case 3:
            return {c.b, c.g, c.r};
        default:
            return {c.b, c.g, c.r, c.a};
    }
}

// Run-length packets for a sequence of stored values of `size` bytes: runs of
// two or more equal values become run packets, the rest raw packets. Packets
// ignore row ends, as the format allows.
inline std::vector<std::uint8_t> RunLengthPackets(const std::vector<std::uint8_t>& values,
                                                  unsigned size) {
    const std::size_t count = values.size() / size;
    auto value = [&](std::size_t i) {
        const auto first = values.begin() + static_cast<std::ptrdiff_t>(i * size);
        return std::vector<std::uint8_t>(first, first + size);
    };
    auto runAt = [&](std::size_t i) { return i + 1 < count && value(i) == value(i + 1); };
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count;) {
        const bool run = runAt(i);
        std::size_t length = 1;
        while (i + length < count && length < 128 &&
               (run ? value(i + length) == value(i) : !runAt(i + length))) {
            ++length;
        }
        out.push_back(static_cast<std::uint8_t>((run ? 0x80 : 0) | (length - 1)));
        for (std::size_t k = 0; k < (run ? 1 : length); ++k) {
            Append(out, value(i + k));
        }
        i += length;
    }
    return out;
}

}  // namespace weftloom::test
