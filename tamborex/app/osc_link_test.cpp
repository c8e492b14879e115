#include "tamborex/app/osc_link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <lo/lo.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "alloc_counter.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "osc_recorder.h"
#include "platform/file_io.h"
#include "tamborex/app/core.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/testing/test_window.h"

namespace {

namespace fs = std::filesystem;

TEST(OscAxisPosition, ReadsTheStickOverTheTravelItsCalibrationMeasured) {
    AxisRecord axis;  // the device scales into 0..127 until a patch says otherwise
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 0), -1.0f);
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 127), 1.0f);
    EXPECT_NEAR(OscAxisPosition(axis, 64), 0.0f, 0.01f);
    // A stick that rests low and reaches only part of the travel.
    axis.min = 0;
    axis.max = 65535;
    axis.shape.calibration = {10000, 20000, 60000};
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 20000), 0.0f);
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 15000), -0.5f);
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 40000), 0.5f);
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 2000), -1.0f);  // past the measured end
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 65535), 1.0f);
    // A trigger rests at one end: its travel is one span.
    axis.shape.calibration = {0, 0, 65535};
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 0), -1.0f);
    EXPECT_NEAR(OscAxisPosition(axis, 32768), 0.0f, 0.001f);
    // Nothing to divide by: no position, and no crash.
    axis.max = axis.min;
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 5), 0.0f);
    axis.max = 65535;
    axis.shape.calibration = {5, 5, 5};
    EXPECT_FLOAT_EQ(OscAxisPosition(axis, 9), 0.0f);
}

class OscLinkTest : public ::testing::Test {
  protected:
    OscLinkTest() {
        dir = fs::temp_directory_path() / ("tamborex-osc-link-" + std::to_string(getpid()));
        fs::create_directories(dir);
        midi.SetOutputs({"Tamborex", "Synth"});
        midi.SetInputs({"Tamborex"});
        stick.Attach();
    }
    ~OscLinkTest() override {
        if (core) {
            core->Session().Shutdown();
        }
        core.reset();
        fs::remove_all(dir);
    }
    CSession& Start(COscLink::Overrides osc) {
        core = std::make_unique<CTamborexCore>(bar, midi, stick, (dir / "Tamborex.bnk").string(),
                                               std::move(osc));
        Attach(core->Session(), bar);
        core->Session().Startup();
        return core->Session();
    }

    fs::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    CTestWindow bar;
    testsupport::OscRecorder peer;
    std::unique_ptr<CTamborexCore> core;
};

TEST_F(OscLinkTest, APollPassWithTheMirrorOnAllocatesNothing) {
    CSession& s = Start({"127.0.0.1:" + std::to_string(peer.Port()), std::nullopt});
    ASSERT_NE(core->Osc().Sender(), nullptr);
    ASSERT_TRUE(s.SelectOutput(1));
    s.SetLowLatencyInput(false);  // one pass per loop below, not one per change
    CPatch& patch = s.PatchForEditing();
    for (int a = 0; a < kAxisCount; ++a) {
        patch.axes[a].controller = 9 + a;
    }
    patch.buttons[0].mode = MODE_NOTE;
    patch.active = 1;
    midi.ReserveLog(10000);
    bar.recordCalls = false;
    // The controller is taken by the first passes.
    s.Engine().PollJoystick();
    s.Engine().PollJoystick();
    const std::uint64_t before = core->Osc().Sender()->Sent();
    ASSERT_TRUE(peer.WaitFor("/tamborex/axis", before > 0 ? 1 : 0));
    testsupport::AllocationCounter counter;
    for (int i = 1; i <= 50; ++i) {  // every pass moves every axis and the button
        for (int a = 0; a < kAxisCount; ++a) {
            stick.SetAxis(a, static_cast<std::int16_t>(i % 2 ? 32767 : -32768));
        }
        stick.SetButton(0, i % 2 != 0);
        s.Engine().PollJoystick();
    }
    EXPECT_EQ(counter.Count(), 0u);
    // Each pass was one datagram, and every message of it arrived.
    EXPECT_EQ(core->Osc().Sender()->Sent(), before + 50);
    ASSERT_TRUE(peer.WaitFor("/tamborex/button", 50));
    ASSERT_TRUE(peer.WaitFor("/control", 50 * 6));
    for (const auto& r : peer.All()) {
        EXPECT_GT(r.bundle, 0) << r.message.path;
    }
}

TEST_F(OscLinkTest, WithoutSettingsNothingListensOrSends) {
    Start({});
    EXPECT_EQ(core->Osc().Sender(), nullptr);
    EXPECT_EQ(core->Osc().Listener(), nullptr);
    EXPECT_TRUE(bar.messages.empty());
    // A command line that asks for nothing keeps what the settings say off.
    core->Session().SetOscSettings("", "");
    EXPECT_EQ(core->Osc().Sender(), nullptr);
}

// A peer selecting entries whose patch files are gone: each says so in a box, whose own event
// loop runs what is posted meanwhile. The next command waits for the box to close instead of
// opening its box inside it (thousands of them ran the stack out), and a flood is bounded.
TEST_F(OscLinkTest, CommandsPlayOneAtATimeWhileABoxIsOpen) {
    CBankState bank;
    for (int entry = 1; entry <= 3; ++entry) {
        bank.patchNames[entry] = "Gone";
        bank.patchPaths[entry] = (dir / "gone.txp").string();
    }
    const std::vector<std::uint8_t> bytes = FormatBank(bank);
    int cause = 0;
    platform::WriteStage failedAt{};
    ASSERT_TRUE(
        platform::WriteFileAtomically((dir / "Tamborex.bnk").string(), bytes, cause, failedAt));
    std::string error;
    std::uint16_t port = 0;
    {
        auto probe = platform::OscListener::Start(
            {"127.0.0.1", 0}, platform::OscReader("/x", {}),
            [](const platform::OscCommand&) { return true; }, error);
        ASSERT_NE(probe, nullptr) << error;
        port = probe->Port();
    }
    CSession& s = Start({std::nullopt, std::to_string(port)});
    ASSERT_NE(core->Osc().Listener(), nullptr);
    bar.messages.clear();
    bar.runPostedAtOnce = false;
    int depth = 0;
    int deepest = 0;
    bar.onMessage = [&] {
        deepest = std::max(deepest, ++depth);
        bar.RunPosted();
        --depth;
    };
    lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    for (int entry = 1; entry <= 3; ++entry) {
        lo_send(to, "/tamborex/entry", "i", entry);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (bar.messages.size() < 3 && std::chrono::steady_clock::now() < until) {
        if (bar.RunPosted() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(bar.messages.size(), 3u);
    EXPECT_EQ(s.PatchNumber(), 3);

    // Nothing played while they arrive: the queue keeps its bound and counts the rest.
    const int flood = static_cast<int>(COscLink::kMaxPending) + 100;
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    for (int i = 0; i < flood; ++i) {
        lo_message m = lo_message_new();
        lo_message_add_int32(m, 2);
        lo_bundle_add_message(bundle, "/tamborex/entry", m);
    }
    lo_send_bundle(to, bundle);
    lo_bundle_free_recursive(bundle);
    lo_address_free(to);
    // Counted once the whole bundle is read.
    while (core->Osc().Listener()->Ignored() < 100 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(core->Osc().Listener()->Ignored(), 100u);
    while (bar.RunPosted() > 0) {
    }
    EXPECT_EQ(s.PatchNumber(), 2);
    EXPECT_EQ(bar.messages.size(), 4u);  // entry 2 said its file is gone once
    EXPECT_EQ(deepest, 1);

    // Once the program is to end, what still arrives or waits is dropped, not played.
    s.RequestTermination();
    lo_address again = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    lo_send(again, "/tamborex/entry", "i", 1);
    lo_address_free(again);
    int ran = 0;
    while (ran == 0 && std::chrono::steady_clock::now() < until + std::chrono::seconds(5)) {
        if ((ran = bar.RunPosted()) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_GT(ran, 0);
    EXPECT_EQ(s.PatchNumber(), 2);
    EXPECT_EQ(bar.messages.size(), 4u);
}

}  // namespace
