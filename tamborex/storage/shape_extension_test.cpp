#include "tamborex/storage/shape_extension.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>

#include "tamborex/storage/patch_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPublishedLength = 1 + 4 + 2 * 4648;  // name "Lead", two blocks

std::array<CPatch, 2> Slots() {
    std::array<CPatch, 2> slots;
    slots[1].joystickNumber = 1;
    slots[0].axes[AXIS_X].controller = 3;
    slots[0].axes[AXIS_X].max = 100;
    return slots;
}

std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

double F64At(const Bytes& bytes, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, bytes.data() + at, 8);
    return std::bit_cast<double>(v);
}

AxisShape Shaped() {
    AxisShape s;
    s.calibration = {1200, 33000, 64000};
    s.deadZone = {2.5, 4.0, 4.5, 1.0};
    s.invert = true;
    s.curve = CurveKind::Points;
    s.strength = 0.25;
    s.points[0] = {0.0, 0.0};
    s.points[1] = {0.5, 0.3};
    s.points[2] = {1.0, 1.0};
    s.pointCount = 3;
    s.smoothing = {1.5, 12.0};
    s.hysteresis = 3;
    s.resolution = 14;
    s.lsbController = 40;
    s.lsbOnlyWhenMsbUnchanged = true;
    s.nrpnNull = true;
    return s;
}

TEST(ShapeExtension, UnshapedPatchesStayThePublishedFileAndShapedOnesAddTheTaggedBlock) {
    std::array<CPatch, 2> slots = Slots();
    const Bytes plain = FormatPatchFile("Lead", slots);
    EXPECT_EQ(plain.size(), kPublishedLength);

    slots[1].axes[AXIS_RZ].shape = Shaped();
    const Bytes file = FormatPatchFile("Lead", slots);
    // The published part is byte for byte the same.
    ASSERT_EQ(file.size(), kPublishedLength + 16 + 12 * 356 + 4);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), file.begin()));
    const std::size_t e = kPublishedLength;
    EXPECT_EQ(std::string(file.begin() + e, file.begin() + e + 4), "TXSH");
    EXPECT_EQ(U32At(file, e + 4), 1u);    // version
    EXPECT_EQ(U32At(file, e + 8), 356u);  // record size
    EXPECT_EQ(U32At(file, e + 12), 12u);  // records: slot 0's six axes, then slot 1's
    EXPECT_EQ(U32At(file, e + 16), 0u);   // slot 0 X: calibration min
    EXPECT_EQ(U32At(file, e + 20), 32768u);
    EXPECT_EQ(U32At(file, e + 24), 65535u);
    const std::size_t rz = e + 16 + 11 * 356;  // slot 1 RZ
    EXPECT_EQ(U32At(file, rz), 1200u);
    EXPECT_EQ(F64At(file, rz + 12), 2.5);           // dead zone, low end
    EXPECT_EQ(F64At(file, rz + 36), 1.0);           // dead zone, high end
    EXPECT_EQ(U32At(file, rz + 44), 1u);            // invert
    EXPECT_EQ(U32At(file, rz + 48), 4u);            // curve: points
    EXPECT_EQ(F64At(file, rz + 52), 0.25);          // strength
    EXPECT_EQ(U32At(file, rz + 60), 3u);            // point count
    EXPECT_EQ(F64At(file, rz + 64 + 16 + 8), 0.3);  // point 1, y
    EXPECT_EQ(F64At(file, rz + 320), 1.5);          // smoothing minimum cut-off
    EXPECT_EQ(F64At(file, rz + 328), 12.0);         // beta
    EXPECT_EQ(U32At(file, rz + 336), 3u);           // hysteresis
    EXPECT_EQ(U32At(file, rz + 340), 14u);          // resolution
    EXPECT_EQ(U32At(file, rz + 344), 40u);          // LSB controller
    EXPECT_EQ(U32At(file, rz + 348), 1u);           // LSB alone
    EXPECT_EQ(U32At(file, rz + 352), 1u);           // NRPN null
    const Bytes covered(file.begin() + e, file.end() - 4);
    EXPECT_EQ(U32At(file, file.size() - 4), Crc32(covered));
    EXPECT_EQ(Crc32(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);

    std::array<CPatch, 2> read;
    std::string name;
    std::string notice = "untouched";
    ASSERT_EQ(ReadPatchFile(file, name, read, &notice), "");
    EXPECT_EQ(notice, "");
    EXPECT_EQ(read[1].axes[AXIS_RZ].shape, Shaped());
    EXPECT_TRUE(IsDefaultShape(read[0].axes[AXIS_X].shape));
    EXPECT_EQ(FormatPatchFile(name, read), file);
}

TEST(ShapeExtension, OldFilesAndFilesCutToThePublishedLengthLoadTheSameFieldsUnshaped) {
    std::array<CPatch, 2> slots = Slots();
    slots[0].axes[AXIS_Y].shape = Shaped();
    const Bytes file = FormatPatchFile("Lead", slots);
    const Bytes cut(file.begin(), file.begin() + kPublishedLength);
    // Whatever shapes the slots held before, a file without them leaves every axis unshaped.
    std::array<CPatch, 2> read = slots;
    std::string name;
    std::string notice;
    ASSERT_EQ(ReadPatchFile(cut, name, read, &notice), "");
    EXPECT_EQ(notice, "");
    EXPECT_EQ(name, "Lead");
    for (const CPatch& p : read) {
        for (const AxisRecord& a : p.axes) {
            EXPECT_TRUE(IsDefaultShape(a.shape));
        }
    }
    EXPECT_EQ(read[0].axes[AXIS_X].max, 100);
    EXPECT_EQ(FormatPatchFile(name, read), cut);
    // Bytes after the blocks that are not ours are passed over, as the published reader does.
    Bytes trailing = cut;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    ASSERT_EQ(ReadPatchFile(trailing, name, read, &notice), "");
    EXPECT_EQ(notice, "");
}

TEST(ShapeExtension, ADamagedExtensionNeverCostsThePublishedPatch) {
    std::array<CPatch, 2> slots = Slots();
    slots[0].axes[AXIS_Y].shape = Shaped();
    slots[0].axes[AXIS_Z].shape = Shaped();
    const Bytes file = FormatPatchFile("Lead", slots);
    auto load = [](const Bytes& bytes, std::string& notice) {
        std::array<CPatch, 2> read;
        std::string name;
        EXPECT_EQ(ReadPatchFile(bytes, name, read, &notice), "");
        EXPECT_EQ(name, "Lead");
        EXPECT_EQ(read[0].axes[AXIS_X].controller, 3);
        EXPECT_EQ(read[0].axes[AXIS_X].max, 100);
        return read;
    };
    // Cut anywhere inside the extension: the published patch, every axis unshaped, and why.
    for (std::size_t end = kPublishedLength + 1; end < file.size(); end += 37) {
        std::string notice;
        const auto read = load(Bytes(file.begin(), file.begin() + end), notice);
        EXPECT_NE(notice.find("cut short"), std::string::npos) << end;
        EXPECT_TRUE(IsDefaultShape(read[0].axes[AXIS_Y].shape));
    }
    // A flipped bit anywhere is caught by the checksum.
    for (std::size_t at : {kPublishedLength + 20, kPublishedLength + 500, file.size() - 1}) {
        Bytes damaged = file;
        damaged[at] ^= 0x10;
        std::string notice;
        const auto read = load(damaged, notice);
        EXPECT_NE(notice.find("damaged"), std::string::npos) << at;
        EXPECT_TRUE(IsDefaultShape(read[0].axes[AXIS_Y].shape));
    }
    // A header that cannot be right.
    Bytes header = file;
    header[kPublishedLength + 8] = 3;  // record size 3
    std::string notice;
    load(header, notice);
    EXPECT_NE(notice.find("damaged"), std::string::npos);
}

TEST(ShapeExtension, ImpossibleValuesUnshapeTheirAxisAloneAndLaterVersionsAreRead) {
    std::array<CPatch, 2> slots = Slots();
    slots[0].axes[AXIS_Y].shape = Shaped();
    slots[0].axes[AXIS_Z].shape = Shaped();
    Bytes file = FormatPatchFile("Lead", slots);
    auto reseal = [](Bytes& bytes) {
        const std::uint32_t crc =
            Crc32({bytes.data() + kPublishedLength, bytes.size() - kPublishedLength - 4});
        std::memcpy(bytes.data() + bytes.size() - 4, &crc, 4);
    };
    const std::size_t z = kPublishedLength + 16 + 2 * 356;
    Bytes bad = file;
    bad[z + 340] = 9;  // resolution 9
    reseal(bad);
    std::array<CPatch, 2> read;
    std::string name;
    std::string notice;
    ASSERT_EQ(ReadPatchFile(bad, name, read, &notice), "");
    EXPECT_EQ(notice,
              "The axis shaping stored after this patch holds impossible values for 1 axis, "
              "which is loaded unshaped. The rest of the patch was loaded as it was saved.");
    EXPECT_EQ(read[0].axes[AXIS_Y].shape, Shaped());
    EXPECT_TRUE(IsDefaultShape(read[0].axes[AXIS_Z].shape));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(bad.data() + z + 52, &nan, 8);  // strength
    bad[z + 340] = 14;
    reseal(bad);
    ASSERT_EQ(ReadPatchFile(bad, name, read, &notice), "");
    EXPECT_TRUE(IsDefaultShape(read[0].axes[AXIS_Z].shape));

    // A later version with longer records and a thirteenth: what this one knows is read.
    Bytes later(file.begin(), file.begin() + kPublishedLength + 16);
    const std::uint32_t longer = 356 + 8;
    std::memcpy(later.data() + kPublishedLength + 4, "\x02\0\0\0", 4);
    std::memcpy(later.data() + kPublishedLength + 8, &longer, 4);
    std::memcpy(later.data() + kPublishedLength + 12, "\x0D\0\0\0", 4);
    for (int r = 0; r < 13; ++r) {
        const std::size_t from = kPublishedLength + 16 + static_cast<std::size_t>(r % 12) * 356;
        later.insert(later.end(), file.begin() + static_cast<long>(from),
                     file.begin() + static_cast<long>(from + 356));
        later.insert(later.end(), 8, 0xEE);
    }
    later.insert(later.end(), 4, 0);
    reseal(later);
    ASSERT_EQ(ReadPatchFile(later, name, read, &notice), "");
    EXPECT_EQ(notice, "");
    EXPECT_EQ(read[0].axes[AXIS_Z].shape, Shaped());
    // Written back in this version's own layout.
    EXPECT_EQ(FormatPatchFile(name, read), file);
}

}  // namespace
