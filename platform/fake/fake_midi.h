#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi.h"

namespace platform {

// An in-memory MIDI system for tests. Records every call with its time and result, fails the
// calls it is told to fail, and lets a test play incoming messages into an open input.
//
// Injected input is delivered on the injecting thread (a test may inject from a second thread to
// stand in for the backend's), thru first, then the callback, as the real service does.
// Recording a short send allocates nothing while the log has room (see ReserveLog).
class FakeMidiService final : public MidiService {
  public:
    enum class Call {
        OpenOutput,
        CloseOutput,
        SendShort,
        SendLong,
        OpenInput,
        StartInput,
        StopInput,
        CloseInput,
        Connect,
        Disconnect,
    };

    struct Event {
        Call call;
        std::uint64_t timeMs;
        std::uint32_t handle;
        int index;                        // device index for opens, -1 otherwise
        std::uint32_t message;            // packed short message for SendShort
        std::vector<std::uint8_t> bytes;  // the block for SendLong
        MidiResult result;
        std::uint32_t batch = 0;  // for sends of one SendShortBatch call, its number from 1
        // The SendShorts call a short send came in, counted from 1; 0 for one sent alone.
        std::uint32_t group = 0;
    };

    FakeMidiService();

    void SetOutputs(std::vector<std::string> names);
    void SetInputs(std::vector<std::string> names);
    // After `after` more calls of this kind go through, the next `times` give `result` (and do
    // nothing); times < 0 means every call from then on. A later FailNext for the same call
    // replaces the earlier one.
    void FailNext(Call call, MidiResult result, int times = 1, int after = 0);
    void ClearFailures();
    // Milliseconds for the log; a steady clock from construction unless a test sets its own.
    void SetClock(std::function<std::uint64_t()> clock);
    void ReserveLog(std::size_t events);

    std::vector<Event> Events() const;
    void ClearEvents();
    // Every message that went out successfully, short ones as their 1 to 3 bytes, in order.
    std::vector<std::vector<std::uint8_t>> SentBytes() const;
    std::size_t OpenOutputCount() const;
    std::size_t OpenInputCount() const;
    int DeviceOf(MidiOutHandle handle) const;  // -1 when not open

    // Delivers a message to an open, started input. False when nothing took it.
    bool Inject(MidiInHandle handle, std::uint32_t message, std::uint32_t timestampMs = 0);
    // The handle of the input open on this device, kNoHandle when none.
    MidiInHandle InputOnDevice(int index) const;

    std::string BackendName() const override { return "fake"; }
    std::string BackendReason() const override { return "in-memory MIDI for tests"; }
    std::vector<std::string> ListOutputs() override;
    std::vector<std::string> ListInputs() override;
    MidiResult OpenOutput(int index, MidiOutHandle& handle) override;
    MidiResult CloseOutput(MidiOutHandle handle) override;
    MidiResult SendShort(MidiOutHandle handle, std::uint32_t message) override;
    MidiResult SendLong(MidiOutHandle handle, std::span<const std::uint8_t> bytes) override;
    // Recorded as one SendShort event per message, each marked with the batch's number.
    MidiResult SendShortBatch(MidiOutHandle handle,
                              std::span<const std::uint32_t> messages) override;
    // Recorded as SendShort events, one after another under one lock, marked with their group.
    MidiResult SendShorts(MidiOutHandle handle, std::span<const std::uint32_t> messages) override;
    MidiResult OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) override;
    MidiResult StartInput(MidiInHandle handle) override;
    MidiResult StopInput(MidiInHandle handle) override;
    MidiResult CloseInput(MidiInHandle handle) override;
    MidiInputStats InputStats(MidiInHandle handle) override;
    MidiResult Connect(MidiInHandle input, MidiOutHandle output) override;
    MidiResult Disconnect(MidiInHandle input, MidiOutHandle output) override;
    // Sends that succeeded (from the log) and the open inputs' statistics.
    MidiCounters Counters() const override;

  private:
    struct Input {
        int device;
        MidiInCallback callback;
        bool started = false;
        MidiOutHandle thru = kNoHandle;
        MidiInputStats stats;
    };

    std::optional<MidiResult> TakeFailure(Call call);
    MidiResult Record(Call call, std::uint32_t handle, int index, std::uint32_t message,
                      MidiResult result, std::span<const std::uint8_t> bytes = {});
    MidiResult SendShortLocked(MidiOutHandle handle, std::uint32_t message);

    mutable std::mutex mutex_;
    std::vector<std::string> outputs_;
    std::vector<std::string> inputs_;
    struct Failure {
        MidiResult result;
        int times;
        int after;
    };
    std::map<Call, Failure> failures_;
    std::function<std::uint64_t()> clock_;
    std::vector<Event> log_;
    std::map<MidiOutHandle, int> openOutputs_;
    std::map<MidiInHandle, Input> openInputs_;
    std::uint32_t nextHandle_ = 1;
    std::uint32_t batches_ = 0;
    std::uint32_t groups_ = 0;
};

}  // namespace platform
