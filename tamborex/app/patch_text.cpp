#include "tamborex/app/patch_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_io.h"
#include "tamborex/storage/patch_json.h"

namespace {

constexpr char kCommand[] = "tamborex";

// The text of a file for a message: as given, since the user typed it.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::ostream& err) {
    int cause = 0;
    if (platform::ReadWholeFile(path, bytes, cause)) {
        return true;
    }
    err << kCommand << ": cannot read " << path << ": " << platform::ReadFailureText(cause) << "\n";
    return false;
}

// Both names lead to one file (the same name twice, a link, another spelling of the path): writing
// the patch would replace the text it is made from.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

int ExportPatchText(const std::string& patchPath, std::ostream& out, std::ostream& err) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFile(patchPath, bytes, err)) {
        return 1;
    }
    std::string json;
    if (const std::string problem = PatchFileToJson(bytes, json); !problem.empty()) {
        err << kCommand << ": " << patchPath << " cannot be read as a patch file: " << problem
            << "\n";
        return 1;
    }
    if (const std::string losses = PatchFileTextLosses(bytes); !losses.empty()) {
        err << kCommand << ": note: " << patchPath << ": " << losses
            << " Importing the text does not give back this file byte for byte.\n";
    }
    out << json << std::flush;
    if (!out) {
        err << kCommand << ": the text of " << patchPath
            << " could not be written out: " << std::strerror(errno) << "\n";
        return 1;
    }
    return 0;
}

int ImportPatchText(const std::string& jsonPath, const std::string& outPath, std::ostream& err) {
    if (SameFile(jsonPath, outPath)) {
        err << kCommand << ": " << outPath << " is the text being imported: name another file for "
            << "the patch. Nothing was written.\n";
        return 1;
    }
    std::vector<std::uint8_t> text;
    if (!ReadFile(jsonPath, text, err)) {
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::vector<CPatchJsonProblem> problems;
    if (!PatchFileFromJson({reinterpret_cast<const char*>(text.data()), text.size()}, bytes,
                           problems)) {
        // As compilers put it, so an editor can jump to each line.
        for (const CPatchJsonProblem& problem : problems) {
            err << jsonPath << ":" << problem.line << ": "
                << (problem.key.empty() ? std::string() : problem.key + ": ") << problem.what
                << "\n";
        }
        err << kCommand << ": " << outPath << " was not written.\n";
        return 1;
    }
    int cause = 0;
    platform::WriteStage failedAt{};
    if (!platform::WriteFileAtomically(outPath, bytes, cause, failedAt)) {
        err << kCommand << ": cannot write " << outPath << ": " << std::strerror(cause)
            << (failedAt == platform::WriteStage::Replace ? " (the file already there is untouched)"
                                                          : "")
            << "\n";
        return 1;
    }
    return 0;
}
