// What Corvane's files cost at start-up, in one run:
//  - 100,000 named configurations in corvane.txt: time from constructing the main window to its
//    being exposed, with every name in the list (median of 5);
//  - peak resident memory while a 1 GB corvane.txt and a 1 GB Corvane.ini are offered to the
//    readers (sparse files, so they cost no disk), against the peak before.
//
//     QT_QPA_PLATFORM=offscreen corvane_files

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "configuration_file.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "ini_profile.h"
#include "main_dialog.h"
#include "mapper.h"
#include "prompter.h"

namespace {

namespace fs = std::filesystem;

struct SilentPrompter final : corvane::Prompter {
    int warnings = 0;
    void Warn(QWidget*, const QString&) override { ++warnings; }
    bool Ask(QWidget*, const QString&, const QString&) override { return false; }
    int Run(QDialog& dialog) override { return dialog.result(); }
};

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("corvane-files-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / corvane::kConfigurationFileName).string();

    constexpr int kConfigurations = 100000;
    {
        std::ofstream out(path, std::ios::binary);
        corvane::ControlTable table;
        for (int i = 0; i < kConfigurations; ++i) {
            // Names in no order, so the list really sorts them.
            const unsigned key = static_cast<unsigned>(i) * 2654435761u;
            out << corvane::FormatConfigurationLine("Patch " + std::to_string(key), table);
        }
    }
    platform::FakeMidiService midi;
    platform::FakeJoystickService joystick;
    platform::FakeTimer timer;
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        corvane::Mapper mapper(midi, joystick, timer, {});
        corvane::ConfigurationFile file(path);
        SilentPrompter prompter;
        const auto start = std::chrono::steady_clock::now();
        corvane::MainDialog dialog(mapper, file, prompter);
        dialog.show();
        if (!QTest::qWaitForWindowExposed(&dialog)) {
            std::fprintf(stderr, "the window was never exposed\n");
            return 1;
        }
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const int listed = dialog.findChild<QComboBox*>("configurationBox")->count();
        if (listed != kConfigurations) {
            std::fprintf(stderr, "%d names listed, expected %d\n", listed, kConfigurations);
            return 1;
        }
        mapper.Shutdown();
    }
    std::sort(times.begin(), times.end());
    std::printf("100,000 configurations to the window: median %.3f s (min %.3f, max %.3f)\n",
                times[2], times.front(), times.back());

    constexpr std::uintmax_t kGigabyte = 1024ull * 1024 * 1024;
    const long before = PeakKb();
    fs::resize_file(path, kGigabyte);
    corvane::ConfigurationFile big(path);
    const std::size_t names = big.ReadNames().size();
    const fs::path ini = dir / "Corvane.ini";
    std::ofstream(ini).close();
    fs::resize_file(ini, kGigabyte);
    corvane::IniProfile profile(QString::fromStdString(ini.string()));
    std::printf(
        "1 GB corvane.txt and Corvane.ini: peak resident %.1f MB before, %.1f MB after "
        "(%zu names read; the reader says: %s)\n",
        before / 1024.0, PeakKb() / 1024.0, names, big.LastError().c_str());
    std::printf("settings: %s\n", profile.Problem().toStdString().c_str());
    fs::remove_all(dir);
    return 0;
}
