// Planar colour to 'BGRA' pixels: the scaler writes planes, whose paths are
// several times faster than its packed 32-bit output, and this puts them
// together.
#pragma once

#include <cstddef>
#include <cstdint>

// `count` pixels of blue, green, red and alpha planes into 'BGRA' (bytes
// blue, green, red, alpha). Without an alpha plane every pixel is opaque.
void InterleaveBgra(const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red, const std::uint8_t* alpha,
                    std::uint8_t* out, std::size_t count);

// The same a byte at a time: the reference the vector path is tested against.
void InterleaveBgraPlain(const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red,
                         const std::uint8_t* alpha, std::uint8_t* out, std::size_t count);
