#include "platform/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace platform {
namespace {

const ProgramInfo kInfo{"Tamborex",
                        "tamborex",
                        "9.9",
                        "Turns a controller into MIDI.",
                        "--bank-dir",
                        "the bank",
                        "  ./Tamborex.bnk  the bank\n"};

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tamborex");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), kInfo);
}

TEST(CommandLine, HelpAndVersionAnswerAndEverythingUnknownIsRefused) {
    EXPECT_EQ(Parse({}).exitCode, -1);
    EXPECT_EQ(Parse({}).folder, "");
    for (const char* help : {"--help", "-h"}) {
        const CommandLine line = Parse({"--bank-dir", "/x", help});
        EXPECT_EQ(line.exitCode, 0);
        EXPECT_NE(line.output.find("Usage: tamborex"), std::string::npos);
        EXPECT_NE(line.output.find("./Tamborex.bnk"), std::string::npos);
    }
    EXPECT_EQ(Parse({"--version"}).output, "Tamborex 9.9\n");
    for (const std::vector<const char*>& bad : {std::vector<const char*>{"--bogus"},
                                                {"file.txp"},
                                                {"--bank-dir"},
                                                {"--bank-dir="},
                                                {"--bank-dir", ""},
                                                {"--bank-dirx"},
                                                {"--midi=none"},
                                                {"--midi=pipewire"},
                                                {"--midi"},
                                                {"-platform", "offscreen"}}) {
        const CommandLine line = Parse(bad);
        EXPECT_EQ(line.exitCode, 2) << bad[0];
        EXPECT_NE(line.output.find("tamborex --help"), std::string::npos) << bad[0];
    }
    EXPECT_NE(Parse({"--bogus"}).output.find("unknown option '--bogus'"), std::string::npos);
}

TEST(CommandLine, MidiSystemForThisRun) {
    EXPECT_FALSE(Parse({}).midi.has_value());
    EXPECT_EQ(Parse({"--midi=jack"}).midi, MidiBackend::Jack);
    EXPECT_EQ(Parse({"--midi", "alsa", "--bank-dir", "/b"}).midi, MidiBackend::AlsaSequencer);
    EXPECT_EQ(Parse({"--midi=auto"}).midi, MidiBackend::Automatic);
    EXPECT_NE(Parse({"--midi=pipewire"}).output.find("takes auto, alsa or jack, not 'pipewire'"),
              std::string::npos);
}

TEST(CommandLine, FoldersFromTheOptionOrThePerUserPlace) {
    EXPECT_EQ(Parse({"--bank-dir", "/srv/banks"}).folder, "/srv/banks");
    EXPECT_EQ(Parse({"--bank-dir=/srv/b"}).folder, "/srv/b");
    EXPECT_FALSE(Parse({"--bank-dir=/srv/b"}).createFolder);

    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("cmdline-" + std::to_string(getpid()));
    setenv("XDG_DATA_HOME", base.c_str(), 1);
    const CommandLine user = Parse({"--user-dir"});
    EXPECT_EQ(user.folder, (base / "Tamborex").string());
    EXPECT_TRUE(user.createFolder);

    const std::filesystem::path before = std::filesystem::current_path();
    std::string message;
    EXPECT_FALSE(EnterFolder(Parse({"--bank-dir", (base / "missing").c_str()}), message));
    EXPECT_NE(message.find("missing"), std::string::npos);
    EXPECT_EQ(std::filesystem::current_path(), before);
    ASSERT_TRUE(EnterFolder(user, message)) << message;
    EXPECT_EQ(std::filesystem::current_path(), base / "Tamborex");
    std::filesystem::current_path(before);
    std::filesystem::remove_all(base);
    unsetenv("XDG_DATA_HOME");
}

TEST(CommandLine, PatchTextOptionsStandAloneAndOnlyWhereTheProgramHasThem) {
    ProgramInfo withPatches = kInfo;
    withPatches.patchText = true;
    withPatches.headless = "play without a window";
    auto parse = [&withPatches](std::vector<const char*> args) {
        args.insert(args.begin(), "tamborex");
        return ParseCommandLine(static_cast<int>(args.size()), args.data(), withPatches);
    };
    const CommandLine exporting = parse({"--export-patch", "-odd name.txp"});
    EXPECT_EQ(exporting.exitCode, -1);
    EXPECT_EQ(exporting.exportPatch, "-odd name.txp");
    EXPECT_TRUE(exporting.importPatch.empty());
    const CommandLine importing = parse({"--import-patch", "a.json", "b.txp"});
    EXPECT_EQ(importing.exitCode, -1);
    EXPECT_EQ(importing.importPatch, "a.json");
    EXPECT_EQ(importing.importPatchOut, "b.txp");
    EXPECT_TRUE(importing.exportPatch.empty());

    for (const std::vector<const char*>& bad :
         {std::vector<const char*>{"--export-patch"},
          {"--export-patch", ""},
          {"--import-patch", "a.json"},
          {"--import-patch", "a.json", ""},
          {"--export-patch", "a.txp", "--export-patch", "b.txp"},
          {"--export-patch", "a.txp", "--import-patch", "a.json", "b.txp"},
          {"--export-patch", "a.txp", "--headless"},
          {"--midi=jack", "--import-patch", "a.json", "b.txp"},
          {"--bank-dir", "/b", "--export-patch", "a.txp"}}) {
        const CommandLine line = parse(bad);
        EXPECT_EQ(line.exitCode, 2) << bad[0] << " " << bad.size();
        EXPECT_NE(line.output.find("tamborex --help"), std::string::npos);
    }
    EXPECT_NE(parse({"--export-patch", "a.txp", "--headless"})
                  .output.find("'--export-patch' takes no other option"),
              std::string::npos);
    EXPECT_EQ(parse({"--export-patch", "a.txp", "--help"}).exitCode, 0);

    // A program without patch files has no such options, and says nothing of them.
    EXPECT_EQ(Parse({"--export-patch", "a.txp"}).exitCode, 2);
    EXPECT_EQ(Parse({"--help"}).output.find("--export-patch"), std::string::npos);
    const std::string help = parse({"--help"}).output;
    EXPECT_NE(help.find("tamborex --export-patch FILE.txp"), std::string::npos);
    EXPECT_NE(help.find("tamborex --import-patch FILE.json OUT.txp"), std::string::npos);
}

}  // namespace
}  // namespace platform
