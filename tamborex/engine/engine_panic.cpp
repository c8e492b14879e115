// The engine's ends: what goes out when notes must stop (panic, an incoming All Notes Off, a
// port or patch switch, quitting, an unplugged controller), all taken from the ledger.

#include "tamborex/engine/engine.h"

#include <algorithm>
#include <string>

void CEngine::FollowPort() {
    // The ledger is kept per port; the port in use is known by its handle, which every open
    // changes, so a look-up by name happens once per open, not per message.
    if (midiOut_.Handle() != ledgerHandle_) {
        ledgerHandle_ = midiOut_.Handle();
        const int device = midiOut_.CurrentDevice();
        std::string name = midiOut_.GetDevName(device);
        if (name.empty() && device >= 0) {
            name = "#" + std::to_string(device);  // a port the list had no name for
        }
        held_.SelectPort(name);
    }
}

bool CEngine::SendBatch(int count) {
    if (count == 0) {
        return true;
    }
    const std::span<const std::uint32_t> messages(batch_.data(), static_cast<std::size_t>(count));
    const bool sent = midiOut_.SendBatch(messages);
    if (sent) {
        TapShorts(messages);
    }
    if (sentLog_ != nullptr) {
        for (const std::uint32_t m : messages) {
            sentLog_->RecordShort(m);
        }
    }
    return sent;
}

void CEngine::SilenceOutput() {
    FollowPort();
    SendBatch(held_.End(CHeldNotes::Scope::Sounding, batch_.data()));
}

void CEngine::EndPlayedNotes() {
    FollowPort();
    EndHeldButtons(-1);
    SendBatch(held_.End(CHeldNotes::Scope::Played, batch_.data()));
}

void CEngine::Panic() {
    FollowPort();
    EndHeldButtons(-1);
    const int count = held_.Panic(batch_.data());
    if (count > 0) {
        SignalActivity();
    }
    if (!SendBatch(count)) {
        ReportSendFailure("Panic: " + midiOut_.GetErrorText());
    }
}

void CEngine::EndChannel(int channel) {
    FollowPort();
    EndHeldButtons(channel);
    SendBatch(held_.EndChannel(channel, batch_.data()));
}

void CEngine::EndHeldButtons(int channel) {
    for (int slot = 0; slot < 2; ++slot) {
        for (int b = 0; b < kButtonCount; ++b) {
            const ButtonRecord& r = patches[slot].buttons[b];
            const ButtonKind kind = ButtonModeOf(r.mode).kind;
            const bool sounds = kind == ButtonKind::Note || kind == ButtonKind::Arpeggiator ||
                                kind == ButtonKind::Pedal;
            if (r.pressed && sounds && (channel < 0 || std::clamp(r.channel, 0, 15) == channel)) {
                ended_[slot][b] = true;
            }
        }
    }
}
