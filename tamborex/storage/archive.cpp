#include "tamborex/storage/archive.h"

#include <cstring>
#include <limits>

bool CByteReader::ReadBytes(std::uint8_t* out, std::size_t count) {
    if (count > Remaining()) {
        return false;
    }
    if (count > 0) {
        std::memcpy(out, bytes_.data() + position_, count);
    }
    position_ += count;
    return true;
}

bool CByteReader::Skip(std::size_t count) {
    if (count > Remaining()) {
        return false;
    }
    position_ += count;
    return true;
}

bool CByteReader::ReadInt32(std::int32_t& value) {
    std::uint8_t b[4];
    if (!ReadBytes(b, 4)) {
        return false;
    }
    value = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
        (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
    return true;
}

bool CByteReader::ReadString(std::string& text) {
    std::uint8_t first = 0;
    if (!ReadBytes(&first, 1)) {
        return false;
    }
    std::size_t length = first;
    if (first == 0xFF) {
        std::uint8_t b[2];
        if (!ReadBytes(b, 2)) {
            return false;
        }
        length = static_cast<std::size_t>(b[0] | (b[1] << 8));
        if (length == 0xFFFF) {
            std::int32_t wide = 0;
            if (!ReadInt32(wide) || wide < 0) {
                return false;
            }
            length = static_cast<std::size_t>(wide);
        }
    }
    if (length > Remaining()) {  // a hostile length never reaches the allocator
        return false;
    }
    text.assign(reinterpret_cast<const char*>(bytes_.data() + position_), length);
    position_ += length;
    return true;
}

void CByteWriter::WriteInt32(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                               static_cast<std::uint8_t>(u >> 16),
                               static_cast<std::uint8_t>(u >> 24)};
    WriteBytes(b, 4);
}

void CByteWriter::WriteBytes(const std::uint8_t* data, std::size_t count) {
    bytes_.insert(bytes_.end(), data, data + count);
}

void CByteWriter::WriteString(const std::string& text) {
    const std::size_t n = text.size();
    if (n < 0xFF) {
        bytes_.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0xFFFE) {
        const std::uint8_t prefix[3] = {0xFF, static_cast<std::uint8_t>(n),
                                        static_cast<std::uint8_t>(n >> 8)};
        WriteBytes(prefix, 3);
    } else {
        const std::uint8_t prefix[3] = {0xFF, 0xFF, 0xFF};
        WriteBytes(prefix, 3);
        WriteInt32(static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX)));
    }
    WriteBytes(reinterpret_cast<const std::uint8_t*>(text.data()),
               std::min<std::size_t>(n, INT32_MAX));
}
