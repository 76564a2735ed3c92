// The growable byte block.
#include "platform/byteblock.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/bytes.h"

namespace {
// Lets tests make allocation fail at a chosen size, so that the memFullErr
// paths of every caller can be exercised without exhausting the machine.
std::atomic<std::uint64_t> gAllocationCeiling{~std::uint64_t{0}};
} // namespace

namespace testing_hooks {
void SetByteBlockAllocationCeiling(std::uint64_t bytes) { gAllocationCeiling = bytes; }
} // namespace testing_hooks

ByteBlock::~ByteBlock() { std::free(data_); }

ByteBlock::ByteBlock(ByteBlock&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void ByteBlock::Release() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

OSErr ByteBlock::GrowCapacity(std::uint64_t capacity) {
    if (capacity <= capacity_) return noErr;
    if (capacity > kMaxSize) return memFullErr;
    // Grow geometrically so that appending byte by byte stays linear.
    std::uint64_t wanted = std::max<std::uint64_t>(capacity, std::uint64_t{capacity_} + capacity_ / 2);
    wanted = std::max<std::uint64_t>(wanted, 64);
    if (wanted > kMaxSize) wanted = kMaxSize;
    if (wanted > gAllocationCeiling.load(std::memory_order_relaxed)) {
        wanted = capacity;
        if (wanted > gAllocationCeiling.load(std::memory_order_relaxed)) return memFullErr;
    }
    void* grown = std::realloc(data_, static_cast<std::size_t>(wanted));
    if (grown == nullptr) return memFullErr;
    data_ = static_cast<std::uint8_t*>(grown);
    capacity_ = static_cast<std::uint32_t>(wanted);
    return noErr;
}

OSErr ByteBlock::ReserveExactly(std::uint64_t capacity) {
    if (capacity <= capacity_) return noErr;
    if (capacity > kMaxSize || capacity > gAllocationCeiling.load(std::memory_order_relaxed)) return memFullErr;
    void* grown = std::realloc(data_, static_cast<std::size_t>(capacity));
    if (grown == nullptr) return memFullErr;
    data_ = static_cast<std::uint8_t*>(grown);
    capacity_ = static_cast<std::uint32_t>(capacity);
    return noErr;
}

OSErr ByteBlock::FromBytes(std::span<const std::uint8_t> bytes, ByteBlock& out) {
    ByteBlock block;
    if (OSErr err = block.Append(bytes)) return err;
    out = std::move(block);
    return noErr;
}

OSErr ByteBlock::CopyTo(ByteBlock& out) const { return FromBytes(Span(), out); }

OSErr ByteBlock::Append(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return noErr;
    // The bytes may lie inside this block: remember their offset, not their
    // address, across a reallocation.
    const bool inside = data_ != nullptr && bytes.data() >= data_ && bytes.data() < data_ + size_;
    const std::size_t offset = inside ? static_cast<std::size_t>(bytes.data() - data_) : 0;
    if (OSErr err = GrowCapacity(std::uint64_t{size_} + bytes.size())) return err;
    const std::uint8_t* source = inside ? data_ + offset : bytes.data();
    std::memmove(data_ + size_, source, bytes.size());
    size_ += static_cast<std::uint32_t>(bytes.size());
    return noErr;
}

OSErr ByteBlock::AppendCString(const char* text) {
    if (text == nullptr) return paramErr;
    return Append({reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)});
}

OSErr ByteBlock::AppendByte(std::uint8_t byte) { return Append({&byte, 1}); }

OSErr ByteBlock::AppendBE16(std::uint16_t v) {
    std::uint8_t bytes[2];
    WriteBE16(bytes, v);
    return Append(bytes);
}

OSErr ByteBlock::AppendBE32(std::uint32_t v) {
    std::uint8_t bytes[4];
    WriteBE32(bytes, v);
    return Append(bytes);
}

OSErr ByteBlock::Grow(std::uint32_t n, std::uint32_t* where) {
    if (OSErr err = GrowCapacity(std::uint64_t{size_} + n)) return err;
    if (n != 0) std::memset(data_ + size_, 0, n);
    if (where) *where = size_;
    size_ += n;
    return noErr;
}

OSErr ByteBlock::Resize(std::uint32_t size) {
    if (size <= size_) {
        size_ = size;
        return noErr;
    }
    return Grow(size - size_);
}

OSErr ByteBlock::Insert(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > size_) return paramErr;
    if (bytes.empty()) return noErr;
    // Inserting a block's own bytes into itself is not supported.
    if (data_ != nullptr && bytes.data() >= data_ && bytes.data() < data_ + capacity_) return paramErr;
    if (OSErr err = GrowCapacity(std::uint64_t{size_} + bytes.size())) return err;
    std::memmove(data_ + offset + bytes.size(), data_ + offset, size_ - offset);
    std::memcpy(data_ + offset, bytes.data(), bytes.size());
    size_ += static_cast<std::uint32_t>(bytes.size());
    return noErr;
}

OSErr ByteBlock::Erase(std::uint32_t offset, std::uint32_t n) {
    if (offset > size_ || n > size_ - offset) return paramErr;
    std::memmove(data_ + offset, data_ + offset + n, size_ - offset - n);
    size_ -= n;
    return noErr;
}

OSErr ByteBlock::Patch(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > size_ || bytes.size() > size_ - offset) return paramErr;
    if (!bytes.empty()) std::memmove(data_ + offset, bytes.data(), bytes.size());
    return noErr;
}

OSErr ByteBlock::PatchBE16(std::uint32_t offset, std::uint16_t v) {
    std::uint8_t bytes[2];
    WriteBE16(bytes, v);
    return Patch(offset, bytes);
}

OSErr ByteBlock::PatchBE32(std::uint32_t offset, std::uint32_t v) {
    std::uint8_t bytes[4];
    WriteBE32(bytes, v);
    return Patch(offset, bytes);
}
