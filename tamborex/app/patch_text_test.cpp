#include "tamborex/app/patch_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tamborex/storage/patch_file.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

class PatchText : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tamborex-patch-text-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::size_t FilesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

std::string PatchBytes(std::int32_t channel) {
    std::array<CPatch, 2> slots;
    slots[1].axes[3].channel = channel;
    const Bytes bytes = FormatPatchFile("Pad", slots);
    return {bytes.begin(), bytes.end()};
}

TEST_F(PatchText, ExportEditImportGivesTheEditedPatch) {
    Write(Path("pad.txp"), PatchBytes(3));
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(ExportPatchText(Path("pad.txp"), out, err), 0);
    EXPECT_EQ(err.str(), "");
    std::string text = out.str();
    Write(Path("pad.json"), text);
    ASSERT_EQ(ImportPatchText(Path("pad.json"), Path("again.txp"), err), 0) << err.str();
    EXPECT_EQ(Read(Path("again.txp")), Read(Path("pad.txp")));

    const std::size_t at = text.find("\"channel\": 3");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 12, "\"channel\": 9");
    Write(Path("pad.json"), text);
    ASSERT_EQ(ImportPatchText(Path("pad.json"), Path("again.txp"), err), 0) << err.str();
    EXPECT_EQ(Read(Path("again.txp")), PatchBytes(9));
    EXPECT_EQ(FilesInFolder(), 3u);  // no temporary left beside them
}

TEST_F(PatchText, RefusedTextWritesNothingAndNamesFileLineAndKey) {
    Write(Path("keep.txp"), "the user's own file");
    std::ostringstream out;
    std::ostringstream err;
    Write(Path("pad.txp"), PatchBytes(3));
    ASSERT_EQ(ExportPatchText(Path("pad.txp"), out, err), 0);
    std::string text = out.str();
    const std::size_t at = text.find("\"channel\": 3");
    text.replace(at, 12, "\"channel\": 16");
    const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n');
    Write(Path("bad.json"), text);

    EXPECT_EQ(ImportPatchText(Path("bad.json"), Path("keep.txp"), err), 1);
    EXPECT_THAT(err.str(), HasSubstr(Path("bad.json") + ":" + std::to_string(line) +
                                     ": slots[1].axes[3].channel: must be a whole number from 0 "
                                     "to 15, not 16\n"));
    EXPECT_THAT(err.str(), HasSubstr("keep.txp was not written"));
    EXPECT_EQ(Read(Path("keep.txp")), "the user's own file");
    EXPECT_FALSE(fs::exists(Path("new.txp")));
    EXPECT_EQ(ImportPatchText(Path("bad.json"), Path("new.txp"), err), 1);
    EXPECT_FALSE(fs::exists(Path("new.txp")));

    // The text named as its own output (directly or through a link) is never replaced.
    Write(Path("good.json"), out.str());
    for (const char* target : {"good.json", "link.json"}) {
        if (std::string(target) == "link.json") {
            fs::create_symlink(Path("good.json"), Path("link.json"));
        }
        std::ostringstream same;
        EXPECT_EQ(ImportPatchText(Path("good.json"), Path(target), same), 1) << target;
        EXPECT_THAT(same.str(), HasSubstr("is the text being imported"));
        EXPECT_EQ(Read(Path("good.json")), out.str());
    }

    std::ostringstream missing;
    EXPECT_EQ(ImportPatchText(Path("none.json"), Path("new.txp"), missing), 1);
    EXPECT_THAT(missing.str(), HasSubstr("cannot read " + Path("none.json")));
    EXPECT_FALSE(fs::exists(Path("new.txp")));
}

TEST_F(PatchText, UnreadableFilesAndFoldersAreNamed) {
    std::ostringstream out;
    for (const char* name : {"missing.txp", "folder", "empty.txp", "fifo"}) {
        SCOPED_TRACE(name);
        if (std::string(name) == "folder") {
            fs::create_directory(Path(name));
        } else if (std::string(name) == "empty.txp") {
            Write(Path(name), "");
        } else if (std::string(name) == "fifo") {
            ASSERT_EQ(mkfifo(Path(name).c_str(), 0600), 0);
        }
        std::ostringstream err;
        EXPECT_EQ(ExportPatchText(Path(name), out, err), 1);
        EXPECT_THAT(err.str(), HasSubstr(Path(name)));
    }
    EXPECT_EQ(out.str(), "");

    // A file that is not a patch at all (a patch's text given by mistake) is named and refused.
    Write(Path("pad.json"), "{\"name\": \"Pad\"}\n");
    std::ostringstream notPatch;
    EXPECT_EQ(ExportPatchText(Path("pad.json"), out, notPatch), 1);
    EXPECT_THAT(notPatch.str(), HasSubstr(Path("pad.json") + " cannot be read as a patch file"));
    EXPECT_THAT(notPatch.str(), HasSubstr("--import-patch"));
    EXPECT_EQ(out.str(), "");

    // A file cut short is shown as Tamborex loads it, with a note saying so.
    const std::string whole = PatchBytes(0);
    Write(Path("cut.txp"), whole.substr(0, whole.size() - 100));
    std::ostringstream err;
    EXPECT_EQ(ExportPatchText(Path("cut.txp"), out, err), 0);
    EXPECT_THAT(err.str(), HasSubstr("note: " + Path("cut.txp")));
    EXPECT_THAT(err.str(), HasSubstr("ends 100 bytes early"));
    EXPECT_THAT(out.str(), HasSubstr("\"slots\""));

    // Where the patch cannot be written, nothing is.
    Write(Path("pad.json"), out.str());
    std::ostringstream writeErr;
    EXPECT_EQ(ImportPatchText(Path("pad.json"), Path("nowhere/pad.txp"), writeErr), 1);
    EXPECT_THAT(writeErr.str(), HasSubstr("cannot write " + Path("nowhere/pad.txp")));
}

}  // namespace
