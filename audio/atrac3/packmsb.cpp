// The bit packer: a sound unit is read most significant bit first.
#include "audio/atrac3/at3internal.h"

bool At3BitWriter::Put(std::uint32_t value, int count) {
    if (used_ + count > limit_) return false;
    for (int i = count - 1; i >= 0; --i) {
        if ((value >> i) & 1u) out_[used_ >> 3] |= static_cast<std::uint8_t>(0x80u >> (used_ & 7));
        ++used_;
    }
    return true;
}
