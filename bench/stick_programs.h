#pragma once

// What the stick benchmarks share: a bank for the Tamborex program that plays axis X, and the
// floor they are held to, a minimal loop that reads SDL every millisecond.

#include <SDL.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jack_peer.h"
#include "platform/file_io.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/port_names.h"

namespace bench {

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    int cause = 0;
    platform::WriteStage stage{};
    if (!platform::WriteFileAtomically(path.string(), bytes, cause, stage)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
    }
}

// One entry whose patch is active and plays axis X as control change 7 on the program's own
// port, at the fastest poll; JACK as the MIDI system.
inline void PrepareStickBank(const std::filesystem::path& dir, bool lowLatency) {
    std::array<CPatch, 2> patches;
    patches[0].active = 1;
    patches[0].pollIntervalCode = 0;
    patches[0].outputDevice = 0;
    patches[0].axes[AXIS_X].controller = 9;
    CBankState bank;
    bank.patchNames[0] = "Stick";
    bank.patchPaths[0] = (dir / "stick.txp").string();
    WriteFile(dir / "stick.txp", FormatPatchFile(bank.patchNames[0], patches));
    WriteFile(dir / kBankFileName, FormatBank(bank));
    WriteFile(dir / kExtraSettingsFile, FormatExtraSettings({"jack", "", lowLatency}));
}

// The floor: reads the first joystick's axis X every millisecond and sends control change 7
// (127 or 0) through a plain JACK client whenever it changes, until stop.
inline void RunFloorLoop(testsupport::JackPeer& out, const std::atomic<bool>& stop) {
    using namespace std::chrono_literals;
    SDL_LockJoysticks();
    SDL_Joystick* j = SDL_JoystickOpen(0);
    Sint16 previous = SDL_JoystickGetAxis(j, 0);
    SDL_UnlockJoysticks();
    while (!stop) {
        std::this_thread::sleep_for(1ms);
        SDL_LockJoysticks();
        SDL_JoystickUpdate();
        const Sint16 now = SDL_JoystickGetAxis(j, 0);
        SDL_UnlockJoysticks();
        if (now != previous) {
            previous = now;
            out.Send(platform::PackShortMessage(0xB0, 7, now > 0 ? 127 : 0), 3);
        }
    }
    SDL_LockJoysticks();
    SDL_JoystickClose(j);
    SDL_UnlockJoysticks();
}

// Moves a virtual stick by "a AXIS VALUE" lines on standard input until it ends.
inline void MoveFromInput(platform::VirtualStick& stick) {
    std::string line;
    while (std::getline(std::cin, line)) {
        int axis = 0;
        int value = 0;
        if (std::sscanf(line.c_str(), "a %d %d", &axis, &value) == 2) {
            stick.Axis(axis, static_cast<Sint16>(value));
        }
    }
}

// Full-range throws of axis 0, every 30 to 90 ms at moments drawn from random (the same moments
// each run for the same seed): when each was made (JACK's microseconds) and the 7-bit value it
// should arrive as.
struct StickMoves {
    std::vector<std::uint64_t> movedUs;
    std::vector<int> values;
};
inline StickMoves ThrowAxisZero(platform::VirtualStick& stick, int moves, std::mt19937& random) {
    std::uniform_int_distribution<int> pause(30, 90);
    StickMoves made;
    for (int m = 0; m < moves; ++m) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const bool up = m % 2 == 0;
        made.movedUs.push_back(jack_get_time());
        stick.Axis(0, up ? 32767 : -32768);
        made.values.push_back(up ? 127 : 0);
    }
    return made;
}

}  // namespace bench
