// The poll period Tamborex actually keeps: the real bar, its window timers and the engine's
// poll tick, on a stick that records when it is read. Runs the patch at poll codes 0 (20 ms)
// and 1 (40 ms) for the given seconds each (60 by default) and prints median, p99 and worst
// error of the achieved period.
//
//     poll_jitter [seconds]

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "main_bar.h"
#include "tamborex/app/qt_ui_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

// The fake stick, with the time of every read.
class TimedStick final : public platform::JoystickService {
  public:
    std::vector<Clock::time_point> polls;
    platform::FakeJoystickService stick;

    std::vector<platform::JoystickCaps> ListJoysticks() override { return stick.ListJoysticks(); }
    void SetChoice(const platform::JoystickChoice& choice) override { stick.SetChoice(choice); }
    platform::JoyResult Reselect() override { return stick.Reselect(); }
    std::optional<platform::JoystickCaps> Current() override { return stick.Current(); }
    platform::JoyResult Open() override { return stick.Open(); }
    void Close() override { stick.Close(); }
    platform::JoyResult SetAxisRange(int axis, std::int32_t min, std::int32_t max) override {
        return stick.SetAxisRange(axis, min, max);
    }
    platform::JoyResult Acquire() override { return stick.Acquire(); }
    platform::JoyResult Unacquire() override { return stick.Unacquire(); }
    platform::JoyResult Poll() override {
        polls.push_back(Clock::now());
        return stick.Poll();
    }
    platform::JoyResult GetState(platform::RawJoyState& state) override {
        return stick.GetState(state);
    }
    platform::JoyResult ReadSimple(platform::SimpleJoyState& state) override {
        return stick.ReadSimple(state);
    }
    platform::JoyResult ReadWhole(platform::RawJoyState& state) override {
        return stick.ReadWhole(state);
    }
    void SetEventListener(platform::JoyEventListener listener) override {
        stick.SetEventListener(std::move(listener));
    }
};

struct NoPrompts final : CPrompter {
    void Warn(QWidget*, const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool Ask(QWidget*, const QString&) override { return false; }
    bool ChooseFile(QWidget*, bool, std::string_view, std::string_view, const std::string&,
                    std::string&) override {
        return false;
    }
    int Run(QDialog&) override { return 0; }
};

void Measure(CMainBar& bar, TimedStick& stick, int code, int seconds) {
    CPatch& patch = bar.Session().Engine().patches[0];
    patch.pollIntervalCode = code;
    stick.polls.clear();
    stick.polls.reserve(static_cast<std::size_t>(seconds) * 60);
    bar.Session().Engine().SetPatchActive(0, 1);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    bar.Session().Engine().SetPatchActive(0, 0);

    const double target = (code + 1) * 20.0;
    std::vector<double> errors;
    for (std::size_t i = 2; i < stick.polls.size(); ++i) {  // the first read acquires
        const double period =
            std::chrono::duration<double, std::milli>(stick.polls[i] - stick.polls[i - 1]).count();
        errors.push_back(std::abs(period - target));
    }
    std::sort(errors.begin(), errors.end());
    if (errors.empty()) {
        std::printf("code %d: no polls\n", code);
        return;
    }
    const auto at = [&](double q) {
        return errors[static_cast<std::size_t>(q * (errors.size() - 1))];
    };
    std::printf(
        "code %d (%3.0f ms): %zu periods  error median %.3f ms  p99 %.3f ms  worst %.3f ms\n", code,
        target, errors.size(), at(0.5), at(0.99), errors.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    platform::FakeMidiService midi;
    midi.SetOutputs({"Tamborex", "Synth"});
    midi.SetInputs({"Tamborex"});
    TimedStick stick;
    stick.stick.Attach();
    NoPrompts prompts;
    const std::string bank = "/tmp/poll_jitter_" + std::to_string(getpid()) + ".bnk";
    {
        CQtUiThread ui;
        CTamborexCore core(ui, midi, stick, bank);
        CMainBar bar(core, prompts);
        bar.Initialise();
        bar.show();
        for (int code : {0, 1}) {
            Measure(bar, stick, code, seconds);
        }
    }
    std::remove(bank.c_str());
    return 0;
}
