#include "fake_midi.h"

#include <chrono>

namespace platform {

FakeMidiService::FakeMidiService() {
    const auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    };
    log_.reserve(4096);
}

void FakeMidiService::SetOutputs(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    outputs_ = std::move(names);
}

void FakeMidiService::SetInputs(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    inputs_ = std::move(names);
}

void FakeMidiService::FailNext(Call call, MidiResult result, int times, int after) {
    std::lock_guard lock(mutex_);
    failures_[call] = {result, times, after};
}

void FakeMidiService::ClearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

void FakeMidiService::SetClock(std::function<std::uint64_t()> clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

void FakeMidiService::ReserveLog(std::size_t events) {
    std::lock_guard lock(mutex_);
    log_.reserve(events);
}

std::vector<FakeMidiService::Event> FakeMidiService::Events() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void FakeMidiService::ClearEvents() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::vector<std::vector<std::uint8_t>> FakeMidiService::SentBytes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<std::uint8_t>> sent;
    for (const Event& e : log_) {
        if (e.result != MidiResult::NoError) {
            continue;
        }
        if (e.call == Call::SendShort) {
            const int length = ShortMessageLength(static_cast<std::uint8_t>(e.message));
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < length; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(e.message >> (8 * i)));
            }
            sent.push_back(std::move(bytes));
        } else if (e.call == Call::SendLong) {
            sent.push_back(e.bytes);
        }
    }
    return sent;
}

std::size_t FakeMidiService::OpenOutputCount() const {
    std::lock_guard lock(mutex_);
    return openOutputs_.size();
}

std::size_t FakeMidiService::OpenInputCount() const {
    std::lock_guard lock(mutex_);
    return openInputs_.size();
}

int FakeMidiService::DeviceOf(MidiOutHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = openOutputs_.find(handle);
    return it == openOutputs_.end() ? -1 : it->second;
}

MidiInHandle FakeMidiService::InputOnDevice(int index) const {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, input] : openInputs_) {
        if (input.device == index) {
            return handle;
        }
    }
    return kNoHandle;
}

bool FakeMidiService::Inject(MidiInHandle handle, std::uint32_t message,
                             std::uint32_t timestampMs) {
    MidiInCallback callback;
    {
        std::lock_guard lock(mutex_);
        const auto it = openInputs_.find(handle);
        if (it == openInputs_.end() || !it->second.started) {
            return false;
        }
        ++it->second.stats.received;
        if (it->second.thru != kNoHandle) {
            (void)SendShortLocked(it->second.thru, message);
        }
        callback = it->second.callback;
    }
    if (callback) {
        callback(message, timestampMs);
    }
    return true;
}

std::vector<std::string> FakeMidiService::ListOutputs() {
    std::lock_guard lock(mutex_);
    return outputs_;
}

std::vector<std::string> FakeMidiService::ListInputs() {
    std::lock_guard lock(mutex_);
    return inputs_;
}

std::optional<MidiResult> FakeMidiService::TakeFailure(Call call) {
    const auto it = failures_.find(call);
    if (it == failures_.end()) {
        return std::nullopt;
    }
    Failure& f = it->second;
    if (f.after > 0) {
        --f.after;
        return std::nullopt;
    }
    const MidiResult result = f.result;
    if (f.times > 0 && --f.times == 0) {
        failures_.erase(it);
    }
    return result;
}

MidiResult FakeMidiService::Record(Call call, std::uint32_t handle, int index,
                                   std::uint32_t message, MidiResult result,
                                   std::span<const std::uint8_t> bytes) {
    log_.push_back(Event{call, clock_(), handle, index, message, {}, result});
    if (!bytes.empty()) {
        log_.back().bytes.assign(bytes.begin(), bytes.end());
    }
    return result;
}

MidiResult FakeMidiService::OpenOutput(int index, MidiOutHandle& handle) {
    std::lock_guard lock(mutex_);
    handle = kNoHandle;
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::OpenOutput)) {
        result = *failure;
    } else if (index < 0 || static_cast<std::size_t>(index) >= outputs_.size()) {
        result = MidiResult::BadDeviceId;
    } else {
        for (const auto& [h, device] : openOutputs_) {
            if (device == index) {
                result = MidiResult::Allocated;
            }
        }
    }
    if (result == MidiResult::NoError) {
        handle = nextHandle_++;
        openOutputs_[handle] = index;
    }
    return Record(Call::OpenOutput, handle, index, 0, result);
}

MidiResult FakeMidiService::CloseOutput(MidiOutHandle handle) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::CloseOutput)) {
        result = *failure;
    } else if (openOutputs_.erase(handle) == 0) {
        result = MidiResult::InvalidHandle;
    }
    return Record(Call::CloseOutput, handle, -1, 0, result);
}

MidiResult FakeMidiService::SendShort(MidiOutHandle handle, std::uint32_t message) {
    std::lock_guard lock(mutex_);
    return SendShortLocked(handle, message);
}

MidiResult FakeMidiService::SendShortLocked(MidiOutHandle handle, std::uint32_t message) {
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::SendShort)) {
        result = *failure;
    } else if (openOutputs_.count(handle) == 0) {
        result = MidiResult::InvalidHandle;
    } else if (!IsShortMessageStatus(static_cast<std::uint8_t>(message))) {
        result = MidiResult::InvalidParam;
    }
    return Record(Call::SendShort, handle, -1, message, result);
}

MidiResult FakeMidiService::SendShortBatch(MidiOutHandle handle,
                                           std::span<const std::uint32_t> messages) {
    std::lock_guard lock(mutex_);
    const std::uint32_t batch = ++batches_;
    for (const std::uint32_t message : messages) {
        const MidiResult result = SendShortLocked(handle, message);
        log_.back().batch = batch;
        if (result != MidiResult::NoError) {
            return result;
        }
    }
    return MidiResult::NoError;
}

MidiResult FakeMidiService::SendShorts(MidiOutHandle handle,
                                       std::span<const std::uint32_t> messages) {
    std::lock_guard lock(mutex_);
    if (messages.empty() || messages.size() > kMaxShortGroup) {
        return MidiResult::InvalidParam;
    }
    const std::uint32_t group = ++groups_;
    for (const std::uint32_t message : messages) {
        const MidiResult result = SendShortLocked(handle, message);
        log_.back().group = group;
        if (result != MidiResult::NoError) {
            return result;
        }
    }
    return MidiResult::NoError;
}

MidiResult FakeMidiService::SendLong(MidiOutHandle handle, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::SendLong)) {
        result = *failure;
    } else if (openOutputs_.count(handle) == 0) {
        result = MidiResult::InvalidHandle;
    } else if (bytes.empty()) {
        result = MidiResult::InvalidParam;
    }
    return Record(Call::SendLong, handle, -1, 0, result, bytes);
}

MidiResult FakeMidiService::OpenInput(int index, MidiInCallback callback, MidiInHandle& handle) {
    std::lock_guard lock(mutex_);
    handle = kNoHandle;
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::OpenInput)) {
        result = *failure;
    } else if (index < 0 || static_cast<std::size_t>(index) >= inputs_.size()) {
        result = MidiResult::BadDeviceId;
    } else {
        for (const auto& [h, input] : openInputs_) {
            if (input.device == index) {
                result = MidiResult::Allocated;
            }
        }
    }
    if (result == MidiResult::NoError) {
        handle = nextHandle_++;
        openInputs_[handle] = Input{index, std::move(callback), false, kNoHandle, {}};
    }
    return Record(Call::OpenInput, handle, index, 0, result);
}

MidiResult FakeMidiService::StartInput(MidiInHandle handle) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::StartInput)) {
        result = *failure;
    } else if (auto it = openInputs_.find(handle); it == openInputs_.end()) {
        result = MidiResult::InvalidHandle;
    } else {
        it->second.started = true;
    }
    return Record(Call::StartInput, handle, -1, 0, result);
}

MidiResult FakeMidiService::StopInput(MidiInHandle handle) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::StopInput)) {
        result = *failure;
    } else if (auto it = openInputs_.find(handle); it == openInputs_.end()) {
        result = MidiResult::InvalidHandle;
    } else {
        it->second.started = false;
    }
    return Record(Call::StopInput, handle, -1, 0, result);
}

MidiResult FakeMidiService::CloseInput(MidiInHandle handle) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    if (auto failure = TakeFailure(Call::CloseInput)) {
        result = *failure;
    } else if (openInputs_.erase(handle) == 0) {
        result = MidiResult::InvalidHandle;
    }
    return Record(Call::CloseInput, handle, -1, 0, result);
}

MidiInputStats FakeMidiService::InputStats(MidiInHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = openInputs_.find(handle);
    return it == openInputs_.end() ? MidiInputStats{} : it->second.stats;
}

MidiResult FakeMidiService::Connect(MidiInHandle input, MidiOutHandle output) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    const auto it = openInputs_.find(input);
    if (auto failure = TakeFailure(Call::Connect)) {
        result = *failure;
    } else if (it == openInputs_.end() || openOutputs_.count(output) == 0) {
        result = MidiResult::InvalidHandle;
    } else {
        it->second.thru = output;
    }
    return Record(Call::Connect, input, -1, output, result);
}

MidiResult FakeMidiService::Disconnect(MidiInHandle input, MidiOutHandle output) {
    std::lock_guard lock(mutex_);
    MidiResult result = MidiResult::NoError;
    const auto it = openInputs_.find(input);
    if (auto failure = TakeFailure(Call::Disconnect)) {
        result = *failure;
    } else if (it == openInputs_.end()) {
        result = MidiResult::InvalidHandle;
    } else if (it->second.thru != output) {
        result = MidiResult::InvalidParam;
    } else {
        it->second.thru = kNoHandle;
    }
    return Record(Call::Disconnect, input, -1, output, result);
}

MidiCounters FakeMidiService::Counters() const {
    std::lock_guard lock(mutex_);
    MidiCounters c;
    for (const Event& e : log_) {
        if ((e.call == Call::SendShort || e.call == Call::SendLong) &&
            e.result == MidiResult::NoError) {
            ++c.sent;
        }
    }
    for (const auto& [handle, input] : openInputs_) {
        c.received += input.stats.received;
        c.overflowed += input.stats.overflowed;
    }
    return c;
}

}  // namespace platform
