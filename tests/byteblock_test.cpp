#include <gtest/gtest.h>

#include <vector>

#include "platform/byteblock.h"

namespace {

std::vector<std::uint8_t> Contents(const ByteBlock& b) { return {b.Data(), b.Data() + b.Size()}; }

class AllocationCeiling {
public:
    explicit AllocationCeiling(std::uint64_t bytes) { testing_hooks::SetByteBlockAllocationCeiling(bytes); }
    ~AllocationCeiling() { testing_hooks::SetByteBlockAllocationCeiling(~std::uint64_t{0}); }
};

} // namespace

TEST(ByteBlock, AppendsPatchesAndEdits) {
    ByteBlock b;
    EXPECT_TRUE(b.Empty());
    ASSERT_EQ(b.AppendCString("fr"), noErr);
    ASSERT_EQ(b.AppendBE16(0x1234), noErr);
    ASSERT_EQ(b.AppendBE32(0xA1B2C3D4u), noErr);
    ASSERT_EQ(b.AppendByte(7), noErr);
    EXPECT_EQ(Contents(b), (std::vector<std::uint8_t>{'f', 'r', 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 7}));

    std::uint32_t where = 0;
    ASSERT_EQ(b.Grow(3, &where), noErr);
    EXPECT_EQ(where, 9u);
    EXPECT_EQ(b.Size(), 12u);
    EXPECT_EQ(b.Data()[11], 0);

    ASSERT_EQ(b.PatchBE16(0, 0x0102), noErr);
    ASSERT_EQ(b.PatchBE32(8, 0x05060708u), noErr);
    EXPECT_EQ(b.Data()[0], 1);
    EXPECT_EQ(b.Data()[11], 8);
    // A patch that reaches past the end changes nothing.
    EXPECT_EQ(b.PatchBE32(9, 0xFFFFFFFFu), paramErr);
    EXPECT_EQ(b.Data()[9], 6);

    const std::uint8_t mid[] = {0xAA, 0xBB};
    ASSERT_EQ(b.Insert(2, mid), noErr);
    EXPECT_EQ(b.Data()[2], 0xAA);
    EXPECT_EQ(b.Data()[4], 0x12);
    ASSERT_EQ(b.Erase(2, 2), noErr);
    EXPECT_EQ(b.Data()[2], 0x12);
    EXPECT_EQ(b.Erase(10, 5), paramErr);
    EXPECT_EQ(b.Insert(b.Size() + 1, mid), paramErr);
}

TEST(ByteBlock, AppendingItsOwnBytesSurvivesReallocation) {
    ByteBlock b;
    ASSERT_EQ(b.AppendCString("abcd"), noErr);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(b.Append(b.Span()), noErr); // doubles each time
    ASSERT_EQ(b.Size(), 4u << 12);
    for (std::uint32_t i = 0; i < b.Size(); ++i) ASSERT_EQ(b.Data()[i], "abcd"[i % 4]) << i;
}

TEST(ByteBlock, FailureToGrowIsOutOfMemoryAndKeepsTheContents) {
    ByteBlock b;
    ASSERT_EQ(b.AppendCString("keep"), noErr);
    {
        AllocationCeiling ceiling(1024);
        std::vector<std::uint8_t> big(4096, 1);
        EXPECT_EQ(b.Append(big), memFullErr);
        EXPECT_EQ(b.Grow(5000), memFullErr);
        ByteBlock copy;
        ASSERT_EQ(ByteBlock::FromBytes(std::vector<std::uint8_t>(512, 2), copy), noErr);
    }
    EXPECT_EQ(Contents(b), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    // The 32-bit length is a hard limit.
    EXPECT_EQ(b.Grow(ByteBlock::kMaxSize), memFullErr);
    EXPECT_EQ(b.Size(), 4u);
}

TEST(ByteBlock, MovesOwnershipAndCopiesOnRequest) {
    ByteBlock a;
    ASSERT_EQ(a.AppendCString("xyz"), noErr);
    ByteBlock copy;
    ASSERT_EQ(a.CopyTo(copy), noErr);
    ByteBlock moved(std::move(a));
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(Contents(moved), Contents(copy));
    copy.Data()[0] = 'X';
    EXPECT_EQ(moved.Data()[0], 'x');
}
