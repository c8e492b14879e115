// The patch block of a ".txp" file: the fields of one patch, little-endian 32-bit integers.

#include "tamborex/storage/patch_io.h"

#include <algorithm>

#include "tamborex/storage/archive.h"

namespace {

// Axis records have grown: 28 bytes up to version 3, NRPN numbers from 4, minimum movement
// from 5.
constexpr std::int32_t kFirstWithNrpn = 4;
constexpr std::int32_t kFirstWithMinimumMovement = 5;
constexpr std::int32_t kFirstWithSysEx = 2;

const std::string kEndsInSysEx = "The patch file ends inside its system-exclusive messages.";

// The system-exclusive messages at the end of a block of version 2 or later.
std::string LoadSysEx(CByteReader& in, CPatch& patch,
                      std::vector<std::vector<std::uint8_t>>* unused) {
    auto read = [&in](std::int32_t& field) { return in.ReadInt32(field); };
    std::int32_t count = 0;
    if (!read(count)) {
        return kEndsInSysEx;
    }
    if (count < 0) {
        return "The patch file is damaged: it gives a negative number of system-exclusive "
               "messages.";
    }
    if (!patch.sysEx) {
        patch.sysEx.emplace();
    }
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t length = 0;
        if (!read(length)) {
            return kEndsInSysEx;
        }
        if (length < 0 || length > kSysExBufferSize) {
            return "The patch file is damaged: system-exclusive message " + std::to_string(i + 1) +
                   " is " + std::to_string(length) + " bytes long; a message holds 0 to " +
                   std::to_string(kSysExBufferSize) + " bytes.";
        }
        // Messages beyond the four a patch holds are skipped.
        const bool kept = i < kSysExCount;
        const auto size = static_cast<std::size_t>(length);
        bool ok = false;
        if (kept) {
            ok = in.ReadBytes(patch.sysEx->buffers[i].data(), size);
        } else if (unused != nullptr) {
            std::vector<std::uint8_t> message(std::min(size, in.Remaining()));
            ok = in.ReadBytes(message.data(), size);
            if (ok) {
                unused->push_back(std::move(message));
            }
        } else {
            ok = in.Skip(size);
        }
        if (!ok) {
            return kEndsInSysEx;
        }
        if (kept) {
            patch.sysEx->lengths[i] = length;
        }
    }
    patch.sysExCount = std::min(count, kSysExCount);
    return {};
}

}  // namespace

void StorePatch(const CPatch& patch, CByteWriter& out, std::int32_t version,
                std::span<const std::vector<std::uint8_t>> unusedSysEx) {
    out.WriteInt32(version);
    out.WriteInt32(patch.active);
    for (const ButtonRecord& b : patch.buttons) {
        out.WriteInt32(b.mode);
        out.WriteInt32(b.data1);
        out.WriteInt32(b.data2);
        for (std::int32_t v : b.notes) {
            out.WriteInt32(v);
        }
        for (std::int32_t v : b.velocities) {
            out.WriteInt32(v);
        }
        for (std::int32_t v : b.times) {
            out.WriteInt32(v);
        }
        out.WriteInt32(b.stepCount);
        out.WriteInt32(b.currentStep);
        out.WriteInt32(b.channel);
        out.WriteInt32(b.pressed);
        out.WriteInt32(b.autoArpeggiation);
    }
    for (const AxisRecord& a : patch.axes) {
        for (std::int32_t v :
             {a.value, a.controller, a.max, a.min, a.reversePolarity, a.channel, a.fullRange}) {
            out.WriteInt32(v);
        }
        if (version >= kFirstWithNrpn) {
            out.WriteInt32(a.nrpnMsb);
            out.WriteInt32(a.nrpnLsb);
        }
        if (version >= kFirstWithMinimumMovement) {
            out.WriteInt32(a.minimumMovement);
        }
    }
    out.WriteInt32(patch.joystickNumber);
    out.WriteInt32(patch.joystickSensitivity);
    out.WriteInt32(patch.outputDevice);
    out.WriteInt32(patch.pollIntervalCode);
    out.WriteInt32(kReservedSize);
    out.WriteBytes(patch.reserved.data(), patch.reserved.size());
    if (version < kFirstWithSysEx) {
        return;
    }
    const std::int32_t count = patch.sysEx ? std::clamp(patch.sysExCount, 0, kSysExCount) : 0;
    const std::size_t unused = count == kSysExCount ? unusedSysEx.size() : 0;
    out.WriteInt32(count + static_cast<std::int32_t>(unused));
    for (int i = 0; i < count; ++i) {
        const std::int32_t length = std::clamp(patch.sysEx->lengths[i], 0, kSysExBufferSize);
        out.WriteInt32(length);
        out.WriteBytes(patch.sysEx->buffers[i].data(), static_cast<std::size_t>(length));
    }
    for (std::size_t i = 0; i < unused; ++i) {
        out.WriteInt32(static_cast<std::int32_t>(unusedSysEx[i].size()));
        out.WriteBytes(unusedSysEx[i].data(), unusedSysEx[i].size());
    }
}

std::string LoadPatch(CByteReader& in, CPatch& patch,
                      std::vector<std::vector<std::uint8_t>>* unusedSysEx) {
    std::int32_t v = 0;
    // Each read that finds the end of the file leaves the fields after it as they were.
    auto read = [&in](std::int32_t& field) { return in.ReadInt32(field); };
    if (!read(v) || !read(patch.active)) {
        return {};
    }
    for (ButtonRecord& b : patch.buttons) {
        if (!read(b.mode) || !read(b.data1) || !read(b.data2)) {
            return {};
        }
        for (auto* steps : {&b.notes, &b.velocities, &b.times}) {
            for (std::int32_t& step : *steps) {
                if (!read(step)) {
                    return {};
                }
            }
        }
        if (!read(b.stepCount) || !read(b.currentStep) || !read(b.channel) || !read(b.pressed) ||
            !read(b.autoArpeggiation)) {
            return {};
        }
    }
    for (AxisRecord& a : patch.axes) {
        if (!read(a.value) || !read(a.controller) || !read(a.max) || !read(a.min) ||
            !read(a.reversePolarity) || !read(a.channel) || !read(a.fullRange)) {
            return {};
        }
        if (v >= kFirstWithNrpn && (!read(a.nrpnMsb) || !read(a.nrpnLsb))) {
            return {};
        }
        if (v >= kFirstWithMinimumMovement && !read(a.minimumMovement)) {
            return {};
        }
    }
    if (!read(patch.joystickNumber) || !read(patch.joystickSensitivity) ||
        !read(patch.outputDevice) || !read(patch.pollIntervalCode)) {
        return {};
    }
    std::int32_t reservedLength = 0;
    if (!read(reservedLength)) {
        return {};
    }
    if (reservedLength < 0) {
        return "The patch file is damaged: its reserved block has a negative length.";
    }
    // What does not fit the 256-byte block is skipped.
    const auto kept =
        std::min<std::size_t>(static_cast<std::size_t>(reservedLength), kReservedSize);
    if (!in.ReadBytes(patch.reserved.data(), kept) ||
        !in.Skip(static_cast<std::size_t>(reservedLength) - kept)) {
        return {};
    }
    if (v < kFirstWithSysEx) {
        return {};  // no messages before version 2: the previous ones stay
    }
    return LoadSysEx(in, patch, unusedSysEx);
}
