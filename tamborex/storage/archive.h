#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Little-endian 32-bit integers and length-prefixed strings, the encodings of the patch and bank
// files. The reader never reads past its bytes: every Read reports whether it could.
class CByteReader {
  public:
    explicit CByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool ReadInt32(std::int32_t& value);
    bool ReadBytes(std::uint8_t* out, std::size_t count);
    bool Skip(std::size_t count);
    // One byte n for 0..254; FF then 16 bits for up to 65533; FF FF FF then 32 bits beyond.
    bool ReadString(std::string& text);

    std::size_t Remaining() const { return bytes_.size() - position_; }
    std::span<const std::uint8_t> Rest() const { return bytes_.subspan(position_); }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

class CByteWriter {
  public:
    void WriteInt32(std::int32_t value);
    void WriteBytes(const std::uint8_t* data, std::size_t count);
    void WriteString(const std::string& text);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};
