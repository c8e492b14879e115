#pragma once

// Test doubles of the core's window interfaces: the bar as the engine and the session see it,
// on a manual clock, and the bank as the engine sees it. Deterministic, no Qt.

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tamborex/session/session.h"

// Records every request in order, answers as the test says, and runs window timers on a manual
// clock: Advance(ms) fires each due timer at its moment, in time order.
class CTestWindow final : public CSessionWindow {
  public:
    std::vector<std::string> messages;                  // message boxes and questions, in order
    std::vector<std::string> log;                       // everything else, while recordCalls holds
    bool recordCalls = true;                            // off for benchmarks: logging allocates
    std::vector<std::pair<std::uint64_t, bool>> light;  // when the picture changed, and to what
    std::string chooserAnswer;                          // empty: the user cancels
    std::string chooserInitial;
    std::string chooserFilter;
    std::string chooserExtension;
    bool modified = false;
    bool answer = false;
    int hides = 0;
    std::string controller;  // what the bar shows of the controller
    std::function<void()> onQuestion;
    std::function<void(int)> onTimer;  // the timers' handler, by identifier
    bool runPostedAtOnce = true;       // otherwise posted tasks wait for RunPosted
    std::uint64_t now = 0;

    void SetTimer(int id, unsigned periodMs) override {
        if (recordCalls) {
            log.push_back("timer " + std::to_string(id) + " " + std::to_string(periodMs));
        }
        timers_[Slot(id)] = {true, periodMs, now + periodMs};
    }
    void KillTimer(int id) override {
        if (recordCalls) {
            log.push_back("kill " + std::to_string(id));
        }
        timers_[Slot(id)].running = false;
    }
    void MessageBox(std::string_view text) override { messages.emplace_back(text); }
    void ShowActivity(bool lit) override { light.emplace_back(now, lit); }
    void PostToUiThread(std::function<void()> task) override {
        if (runPostedAtOnce) {
            task();
            return;
        }
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    bool AskYesNo(std::string_view text) override {
        messages.emplace_back(text);
        if (onQuestion) {
            onQuestion();
        }
        return answer;
    }
    bool ChooseFile(bool, std::string_view filter, std::string_view extension,
                    const std::string& initial, std::string& chosen) override {
        Record("chooser");
        chooserFilter = filter;
        chooserExtension = extension;
        chooserInitial = initial;
        chosen = chooserAnswer;
        return !chosen.empty();
    }
    void ShowCurrentEntry() override { Record("show"); }
    void PatchReloaded() override {}
    void PatchSaved() override { Record("saved"); }
    bool PatchModified() override { return modified; }
    std::array<std::int32_t, 2> JoyOptionsPosition() override { return {33, 44}; }
    void ApplyAlwaysOnTop() override { Record("on top"); }
    std::array<std::int32_t, 2> BarPosition() override { return {12, 34}; }
    void MoveBar(std::int32_t x, std::int32_t y) override {
        if (recordCalls) {
            log.push_back("move " + std::to_string(x) + " " + std::to_string(y));
        }
    }
    void HideBar() override { ++hides; }
    void AddTrayIcon() override { Record("tray on"); }
    void RemoveTrayIcon() override { Record("tray off"); }
    void ShowController(std::string_view name, bool present) override {
        controller = std::string(name) + (present ? "" : " (missing)");
    }

    // Runs what other threads posted, in order, on the calling thread; returns how many ran.
    int RunPosted() {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard lock(postedMutex_);
            tasks.swap(posted_);
        }
        for (auto& task : tasks) {
            task();
        }
        return static_cast<int>(tasks.size());
    }

    void Advance(std::uint64_t ms) {
        const std::uint64_t end = now + ms;
        for (;;) {
            int next = -1;
            for (int id = 0; id < kTimerIds; ++id) {
                const Timer& t = timers_[id];
                if (t.running && t.due <= end && (next < 0 || t.due < timers_[next].due)) {
                    next = id;
                }
            }
            if (next < 0) {
                break;
            }
            now = timers_[next].due;
            timers_[next].due += timers_[next].period;
            onTimer(next);
        }
        now = end;
    }
    bool TimerRunning(int id) const { return timers_[Slot(id)].running; }
    unsigned TimerPeriod(int id) const { return timers_[Slot(id)].period; }

  private:
    struct Timer {
        bool running = false;
        unsigned period = 0;
        std::uint64_t due = 0;
    };
    static constexpr int kTimerIds = 32;
    static int Slot(int id) { return id >= 0 && id < kTimerIds ? id : kTimerIds - 1; }
    void Record(const char* entry) {
        if (recordCalls) {
            log.emplace_back(entry);
        }
    }

    Timer timers_[kTimerIds];  // by identifier; a fixed table, so timers never allocate
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
};

// The bank side of the session as the engine sees it: which entry is current and the input
// settings.
struct CTestBankLink final : CBankLink {
    std::int32_t patchNumber = 0;
    bool thru = true;
    std::int32_t inChannel = 0;
    bool respond = true;
    const CMidiThru* byService = nullptr;  // the session's thru, where a test wires one
    std::vector<std::int32_t> selected;
    std::function<void()> onSelect;

    std::int32_t PatchNumber() const override { return patchNumber; }
    void SetPatchNumber(std::int32_t n) override { patchNumber = n; }
    void SelectPatch() override {
        selected.push_back(patchNumber);
        if (onSelect) {
            onSelect();
        }
    }
    bool MidiThru() const override { return thru; }
    bool MidiThruByService() const override {
        return byService != nullptr && byService->Forwarding();
    }
    std::int32_t MidiInChannel() const override { return inChannel; }
    bool RespondToProgramChange() const override { return respond; }
};
