// The growable byte block: one owned, contiguous buffer with a 32-bit length,
// appended to and patched in place. It stands where the platform had memory
// handles. Growth never throws and never aborts: a block that cannot grow
// answers memFullErr and keeps its old contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/status.h"

class ByteBlock {
public:
    static constexpr std::uint32_t kMaxSize = 0xFFFFFFFFu;

    ByteBlock() = default;
    ~ByteBlock();
    ByteBlock(ByteBlock&& other) noexcept;
    ByteBlock& operator=(ByteBlock&& other) noexcept;
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;

    // A new block holding a copy of the bytes.
    static OSErr FromBytes(std::span<const std::uint8_t> bytes, ByteBlock& out);
    OSErr CopyTo(ByteBlock& out) const;

    std::uint32_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    std::uint8_t* Data() { return data_; }
    const std::uint8_t* Data() const { return data_; }
    std::span<std::uint8_t> Span() { return {data_, size_}; }
    std::span<const std::uint8_t> Span() const { return {data_, size_}; }

    OSErr Append(std::span<const std::uint8_t> bytes);
    OSErr Append(const ByteBlock& other) { return Append(other.Span()); }
    // Appends the characters of a C string, without its terminating NUL.
    OSErr AppendCString(const char* text);
    OSErr AppendByte(std::uint8_t byte);
    OSErr AppendBE16(std::uint16_t v);
    OSErr AppendBE32(std::uint32_t v);
    // Grows by n zero bytes; `where` (optional) receives the offset of the
    // first new byte.
    OSErr Grow(std::uint32_t n, std::uint32_t* where = nullptr);
    // Sets the size; new bytes are zero.
    OSErr Resize(std::uint32_t size);
    // Inserts bytes at offset (at most Size()) and removes n bytes at offset.
    OSErr Insert(std::uint32_t offset, std::span<const std::uint8_t> bytes);
    OSErr Erase(std::uint32_t offset, std::uint32_t n);

    // Overwrites bytes in place; the range must lie inside the block.
    OSErr Patch(std::uint32_t offset, std::span<const std::uint8_t> bytes);
    OSErr PatchBE16(std::uint32_t offset, std::uint16_t v);
    OSErr PatchBE32(std::uint32_t offset, std::uint32_t v);

    // Makes room for `capacity` bytes in all, so that appending up to it
    // never reallocates.
    OSErr Reserve(std::uint32_t capacity) { return ReserveExactly(capacity); }

    void Clear() { size_ = 0; }
    // Frees the buffer.
    void Release();

private:
    OSErr GrowCapacity(std::uint64_t capacity);
    OSErr ReserveExactly(std::uint64_t capacity);

    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

namespace testing_hooks {
// Makes every ByteBlock allocation larger than `bytes` fail with memFullErr
// (tests only; the default is no ceiling).
void SetByteBlockAllocationCeiling(std::uint64_t bytes);
} // namespace testing_hooks
