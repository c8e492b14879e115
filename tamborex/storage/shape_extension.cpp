#include "tamborex/storage/shape_extension.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

static_assert(kShapeRecordSize == 356);

const char* const kCutShort =
    "The axis shaping stored after this patch is cut short, so every axis is loaded unshaped. "
    "The rest of the patch was loaded as it was saved.";
const char* const kDamaged =
    "The axis shaping stored after this patch is damaged, so every axis is loaded unshaped. "
    "The rest of the patch was loaded as it was saved.";

class CShapeWriter {
  public:
    explicit CShapeWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F64(double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            out_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
        }
    }

  private:
    std::vector<std::uint8_t>& out_;
};

// Reads fields from one record; every read is inside the record, whose length was checked.
class CShapeReader {
  public:
    explicit CShapeReader(const std::uint8_t* at) : at_(at) {}
    std::uint32_t U32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(at_[i]) << (8 * i);
        }
        at_ += 4;
        return v;
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    double F64() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= static_cast<std::uint64_t>(at_[i]) << (8 * i);
        }
        at_ += 8;
        return std::bit_cast<double>(bits);
    }

  private:
    const std::uint8_t* at_;
};

void WriteShape(const AxisShape& s, CShapeWriter& w) {
    w.I32(s.calibration.min);
    w.I32(s.calibration.centre);
    w.I32(s.calibration.max);
    for (double d : s.deadZone) {
        w.F64(d);
    }
    w.I32(s.invert ? 1 : 0);
    w.I32(static_cast<std::int32_t>(s.curve));
    w.F64(s.strength);
    w.I32(s.pointCount);
    for (const CurvePoint& p : s.points) {
        w.F64(p.x);
        w.F64(p.y);
    }
    w.F64(s.smoothing.minCutoff);
    w.F64(s.smoothing.beta);
    w.I32(s.hysteresis);
    w.I32(s.resolution);
    w.I32(s.lsbController);
    w.I32(s.lsbOnlyWhenMsbUnchanged ? 1 : 0);
    w.I32(s.nrpnNull ? 1 : 0);
}

bool Between(double v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
}

bool Flag(std::int32_t v, bool& out) {
    out = v != 0;
    return v == 0 || v == 1;
}

// One record into s; false (s untouched) when any field is out of its range.
bool ReadShape(CShapeReader& r, AxisShape& out) {
    AxisShape s;
    bool ok = true;
    s.calibration.min = r.I32();
    s.calibration.centre = r.I32();
    s.calibration.max = r.I32();
    ok = ok && s.calibration.min >= 0 && s.calibration.min < s.calibration.max &&
         s.calibration.max <= kAxisRawMax && s.calibration.centre >= s.calibration.min &&
         s.calibration.centre <= s.calibration.max;
    for (double& d : s.deadZone) {
        d = r.F64();
        ok = ok && Between(d, 0.0, 100.0);
    }
    ok = Flag(r.I32(), s.invert) && ok;
    const std::int32_t curve = r.I32();
    ok = ok && curve >= 0 && curve < kCurveKindCount;
    s.curve = static_cast<CurveKind>(curve);
    s.strength = r.F64();
    ok = ok && Between(s.strength, 0.0, 1.0);
    s.pointCount = r.I32();
    ok = ok && s.pointCount >= 0 && s.pointCount <= kMaxCurvePoints;
    for (CurvePoint& p : s.points) {
        p.x = r.F64();
        p.y = r.F64();
        ok = ok && Between(p.x, 0.0, 1.0) && Between(p.y, 0.0, 1.0);
    }
    s.smoothing.minCutoff = r.F64();
    s.smoothing.beta = r.F64();
    ok = ok && Between(s.smoothing.minCutoff, 0.0, 1000.0) && Between(s.smoothing.beta, 0.0, 1.0e6);
    s.hysteresis = r.I32();
    ok = ok && s.hysteresis >= 0 && s.hysteresis <= 16383;
    s.resolution = r.I32();
    ok = ok && (s.resolution == 7 || s.resolution == 14);
    s.lsbController = r.I32();
    ok = ok && s.lsbController >= -1 && s.lsbController <= 127;
    ok = Flag(r.I32(), s.lsbOnlyWhenMsbUnchanged) && ok;
    ok = Flag(r.I32(), s.nrpnNull) && ok;
    if (ok) {
        out = s;
    }
    return ok;
}

AxisShape& ShapeOf(std::array<CPatch, 2>& slots, int record) {
    return slots[record / kAxisCount].axes[record % kAxisCount].shape;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::vector<std::uint8_t> FormatShapeExtension(const std::array<CPatch, 2>& slots) {
    bool shaped = false;
    for (const CPatch& patch : slots) {
        for (const AxisRecord& axis : patch.axes) {
            shaped = shaped || !IsDefaultShape(axis.shape);
        }
    }
    std::vector<std::uint8_t> out;
    if (!shaped) {
        return out;
    }
    out.reserve(kShapeHeaderSize + kShapeRecordCount * kShapeRecordSize + 4);
    out.insert(out.end(), std::begin(kShapeTag), std::end(kShapeTag));
    CShapeWriter w(out);
    w.I32(kShapeVersion);
    w.I32(kShapeRecordSize);
    w.I32(kShapeRecordCount);
    for (const CPatch& patch : slots) {
        for (const AxisRecord& axis : patch.axes) {
            WriteShape(axis.shape, w);
        }
    }
    w.U32(Crc32(out));
    return out;
}

std::string ReadShapeExtension(std::span<const std::uint8_t> rest, std::array<CPatch, 2>& slots) {
    for (int i = 0; i < kShapeRecordCount; ++i) {
        ShapeOf(slots, i) = AxisShape{};
    }
    // Whatever else may follow the published blocks is not ours, and the published reader
    // passes over it too.
    const std::size_t tagged = std::min(rest.size(), sizeof kShapeTag);
    if (tagged == 0 || std::memcmp(rest.data(), kShapeTag, tagged) != 0) {
        return {};
    }
    if (rest.size() < kShapeHeaderSize) {
        return kCutShort;
    }
    CShapeReader header(rest.data() + sizeof kShapeTag);
    const std::int32_t version = header.I32();
    const std::int32_t recordSize = header.I32();
    const std::int32_t count = header.I32();
    // A later version may add fields at the end of each record and more records; what this
    // version knows is read.
    if (version < 1 || recordSize < kShapeRecordSize || recordSize > (1 << 20) || count < 0 ||
        count > (1 << 10)) {
        return kDamaged;
    }
    const std::size_t body = static_cast<std::size_t>(recordSize) * static_cast<std::size_t>(count);
    if (rest.size() < kShapeHeaderSize + body + 4) {
        return kCutShort;
    }
    CShapeReader crc(rest.data() + kShapeHeaderSize + body);
    if (crc.U32() != Crc32(rest.first(kShapeHeaderSize + body))) {
        return kDamaged;
    }
    int refused = 0;
    for (int i = 0; i < std::min(count, kShapeRecordCount); ++i) {
        CShapeReader record(rest.data() + kShapeHeaderSize +
                            static_cast<std::size_t>(i) * static_cast<std::size_t>(recordSize));
        if (!ReadShape(record, ShapeOf(slots, i))) {
            ++refused;
        }
    }
    if (refused > 0) {
        return "The axis shaping stored after this patch holds impossible values for " +
               std::to_string(refused) + (refused == 1 ? " axis" : " axes") + ", which " +
               (refused == 1 ? "is" : "are") +
               " loaded unshaped. The rest of the patch was loaded as it was saved.";
    }
    return {};
}
