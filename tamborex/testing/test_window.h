#pragma once

// Test doubles of the core's front-end interfaces: a front end as the engine and the session see
// it, on a manual clock, and the bank as the engine sees it. Deterministic, no Qt.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tamborex/session/session.h"

// Records every notification in order, answers questions as the test says, and runs the core's
// timers on a manual clock: Advance(ms) fires each due timer at its moment, in time order (timers
// due at the same moment in the order they were made).
class CTestWindow final : public CUiThread,
                          public CEngineEvents,
                          public CSessionObserver,
                          public CSessionAsker {
  public:
    std::vector<std::string> messages;                  // message boxes and questions, in order
    std::vector<std::string> log;                       // everything else, while recordCalls holds
    bool recordCalls = true;                            // off for benchmarks: logging allocates
    std::vector<std::pair<std::uint64_t, bool>> light;  // when the picture changed, and to what
    std::vector<bool> modifiedStates;                   // each change of the unsaved state
    std::string chooserAnswer;                          // empty: the user cancels
    std::string chooserInitial;
    std::string chooserFilter;
    std::string chooserExtension;
    std::optional<bool> answer = false;  // nullopt: nobody there to answer
    // Answers a question that offers Cancel; unset: as answer.
    std::function<std::optional<CSaveAnswer>(std::string_view)> answerWithCancel;
    int playStateChanges = 0;
    int hides = 0;
    std::string controller;  // what the bar shows of the controller
    std::function<void()> onQuestion;
    std::function<void()> onMessage;  // what a message box's own event loop would do meanwhile
    bool runPostedAtOnce = true;      // otherwise posted tasks wait for RunPosted
    std::uint64_t now = 0;

    CTestWindow() { timers_.reserve(kMaxTimers); }

    // CUiThread
    std::unique_ptr<CTimer> MakeTimer(std::function<void()> onTick) override {
        timers_.push_back({std::move(onTick)});
        return std::make_unique<Timer>(*this, timers_.size() - 1);
    }
    void Post(std::function<void()> task) override {
        if (runPostedAtOnce) {
            task();
            return;
        }
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }

    // CEngineEvents, for an engine without a session
    void Message(std::string_view text) override {
        messages.emplace_back(text);
        if (onMessage) {
            onMessage();
        }
    }
    void Activity(bool lit) override { light.emplace_back(now, lit); }

    // CSessionObserver
    void OnMessage(std::string_view text) override { Message(text); }
    void OnActivity(bool lit) override { Activity(lit); }
    void OnBankRead() override { Record("bank read"); }
    void OnEntrySelected() override { Record("show"); }
    void OnPatchSaved(const std::string&) override { Record("saved"); }
    void OnPatchModified(bool modified) override { modifiedStates.push_back(modified); }
    void OnAlwaysOnTopChanged(bool) override { Record("on top"); }
    void OnHideRequested() override { ++hides; }
    void OnStarted() override { Record("started"); }
    void OnShutDown() override { Record("shut down"); }
    void OnPlayStateChanged() override { ++playStateChanges; }
    void OnControllerChanged(std::string_view name, bool present) override {
        controller = std::string(name) + (present ? "" : " (missing)");
    }

    // CSessionAsker
    std::optional<bool> Ask(std::string_view text) override {
        messages.emplace_back(text);
        if (onQuestion) {
            onQuestion();
        }
        return answer;
    }
    std::optional<CSaveAnswer> AskWithCancel(std::string_view text) override {
        if (!answerWithCancel) {
            return CSessionAsker::AskWithCancel(text);
        }
        messages.emplace_back(text);
        if (onQuestion) {
            onQuestion();
        }
        return answerWithCancel(text);
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
            std::size_t next = timers_.size();
            for (std::size_t i = 0; i < timers_.size(); ++i) {
                const State& t = timers_[i];
                if (t.running && t.due <= end &&
                    (next == timers_.size() || t.due < timers_[next].due)) {
                    next = i;
                }
            }
            if (next == timers_.size()) {
                break;
            }
            now = timers_[next].due;
            timers_[next].due += timers_[next].period;
            timers_[next].onTick();  // may start or stop timers, this one too
        }
        now = end;
    }

  private:
    struct State {
        std::function<void()> onTick;
        bool running = false;
        unsigned period = 0;
        std::uint64_t due = 0;
    };
    class Timer final : public CTimer {
      public:
        Timer(CTestWindow& window, std::size_t index) : window_(window), index_(index) {}
        ~Timer() override { Stop(); }
        void Start(unsigned periodMs) override {
            State& s = window_.timers_[index_];
            s.running = true;
            s.period = periodMs;
            s.due = window_.now + periodMs;
        }
        void Stop() override { window_.timers_[index_].running = false; }
        bool Running() const override { return window_.timers_[index_].running; }
        unsigned PeriodMs() const override { return window_.timers_[index_].period; }

      private:
        CTestWindow& window_;
        std::size_t index_;
    };
    // Room made up front: a timer's state never moves while a tick runs.
    static constexpr std::size_t kMaxTimers = 64;

    void Record(const char* entry) {
        if (recordCalls) {
            log.emplace_back(entry);
        }
    }

    std::vector<State> timers_;
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

// What tests arrange in a session without going through files.
struct CSessionTestAccess {
    static CBankState& Bank(CSession& session) { return session.bank_; }
    static CWinMIDIOut& MidiOut(CSession& session) { return session.midiOut_; }
    static CMidiThru& Thru(CSession& session) { return session.thru_; }
};

// A session wired to a test front end, which sees its notifications and answers its questions.
inline void Attach(CSession& session, CTestWindow& window) {
    session.AddObserver(window);
    session.SetAsker(&window);
}
