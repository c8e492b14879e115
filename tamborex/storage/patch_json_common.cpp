// What the JSON exporter and importer of patch files share.

#include "tamborex/storage/archive.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/patch_io.h"
#include "tamborex/storage/patch_json_internal.h"
#include "tamborex/storage/shape_extension.h"

std::string ReadPatchFileText(std::span<const std::uint8_t> bytes, CPatchFileText& text) {
    CPatchFileText read;
    if (std::string problem = ReadPatchFile(bytes, read.name, read.slots, &read.notice);
        !problem.empty()) {
        return problem;
    }
    // The reader keeps no versions: the blocks are walked once more for them. A block the file
    // ends before is written in the current layout.
    CByteReader in(bytes);
    std::string name;
    (void)in.ReadString(name);
    for (std::size_t s = 0; s < read.slots.size(); ++s) {
        CByteReader peek = in;
        (void)peek.ReadInt32(read.versions[s]);
        CPatch scratch;
        (void)LoadPatch(in, scratch, &read.unusedSysEx[s]);
    }
    text = std::move(read);
    return {};
}

std::vector<std::uint8_t> FormatPatchFileText(const CPatchFileText& text) {
    CByteWriter out;
    out.WriteString(text.name);
    for (std::size_t s = 0; s < text.slots.size(); ++s) {
        StorePatch(text.slots[s], out, text.versions[s], text.unusedSysEx[s]);
    }
    const std::vector<std::uint8_t> shapes = FormatShapeExtension(text.slots);
    out.WriteBytes(shapes.data(), shapes.size());
    return out.Bytes();
}

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool ParseHexText(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& why) {
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    bytes.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const int high = digit(text[at]);
        const int low = at + 1 < text.size() ? digit(text[at + 1]) : -1;
        if (high < 0 || low < 0) {
            const std::size_t bad = high < 0 ? at : at + 1;
            why = bad < text.size() ? "character " + std::to_string(bad + 1) +
                                          " is not a hexadecimal digit; bytes are pairs of "
                                          "digits like F0, with spaces between them"
                                    : "it ends with half a byte (an odd number of digits)";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        at += 2;
    }
    return true;
}

bool IsUtf8(std::string_view text) {
    try {
        (void)PatchJson(std::string(text)).dump();
        return true;
    } catch (const PatchJson::type_error&) {
        return false;
    }
}
