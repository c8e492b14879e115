#include "tamborex/storage/patch_file.h"

#include "tamborex/storage/archive.h"
#include "tamborex/storage/patch_io.h"
#include "tamborex/storage/shape_extension.h"

std::vector<std::uint8_t> FormatPatchFile(const std::string& name,
                                          const std::array<CPatch, 2>& slots) {
    CByteWriter out;
    out.WriteString(name);
    StorePatch(slots[0], out);
    StorePatch(slots[1], out);
    const std::vector<std::uint8_t> shapes = FormatShapeExtension(slots);
    out.WriteBytes(shapes.data(), shapes.size());
    return out.Bytes();
}

std::string ReadPatchFile(std::span<const std::uint8_t> bytes, std::string& name,
                          std::array<CPatch, 2>& slots, std::string* notice) {
    CByteReader in(bytes);
    std::string readName;
    if (!in.ReadString(readName)) {
        return "Error opening patch file.";
    }
    std::array<CPatch, 2> staged = slots;
    for (CPatch& patch : staged) {
        if (std::string problem = LoadPatch(in, patch); !problem.empty()) {
            return problem;
        }
    }
    std::string shapeNotice = ReadShapeExtension(in.Rest(), staged);
    if (notice != nullptr) {
        *notice = std::move(shapeNotice);
    }
    name = std::move(readName);
    slots = std::move(staged);
    return {};
}
