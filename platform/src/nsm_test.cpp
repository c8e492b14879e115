#include "platform/nsm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "nsm_fake_server.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testsupport::NsmFakeServer;
using testsupport::OscArg;
using testsupport::OscMessage;

// The program's user-interface thread as the client sees it: tasks wait here until the test
// runs them, on the test's own thread.
class PostedTasks {
  public:
    std::function<void(std::function<void()>)> Poster() {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            ++posted_;
            wake_.notify_all();
        };
    }
    // Runs what is posted until done() holds; false when it did not within the timeout.
    bool RunUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = NsmFakeServer::kTimeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [this] { return !tasks_.empty(); })) {
                    return false;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }
    // Runs the next n tasks, waiting for them to be posted.
    bool Run(int n = 1) {
        int ran = 0;
        return RunUntil([&] { return ran++ == n; });
    }
    int Posted() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    int posted_ = 0;
};

// What the program did when the client called it, and on which thread.
struct Program {
    PostedTasks tasks;
    std::vector<NsmOpen> opens;
    int saves = 0;
    std::vector<bool> guiRequests;
    std::vector<NsmResult> openResults;  // taken in turn; OK when none is left
    NsmResult saveResult;
    bool onOtherThread = false;

    NsmHandlers Handlers(bool optionalGui = true) {
        const std::thread::id self = std::this_thread::get_id();
        NsmHandlers h;
        h.post = tasks.Poster();
        h.open = [this, self](const NsmOpen& open) {
            onOtherThread = onOtherThread || std::this_thread::get_id() != self;
            opens.push_back(open);
            if (openResults.empty()) {
                return NsmResult{};
            }
            NsmResult r = openResults.front();
            openResults.erase(openResults.begin());
            return r;
        };
        h.save = [this, self] {
            onOtherThread = onOtherThread || std::this_thread::get_id() != self;
            ++saves;
            return saveResult;
        };
        if (optionalGui) {
            h.showGui = [this, self](bool show) {
                onOtherThread = onOtherThread || std::this_thread::get_id() != self;
                guiRequests.push_back(show);
            };
        }
        return h;
    }
};

std::unique_ptr<NsmClient> StartClient(NsmFakeServer& server, Program& program,
                                       bool optionalGui = true) {
    std::string error;
    auto client = NsmClient::Start(server.Url(), "Corvane", "/usr/bin/corvane",
                                   program.Handlers(optionalGui), error);
    EXPECT_NE(client, nullptr) << error;
    EXPECT_TRUE(server.WaitForAnnounce());
    return client;
}

std::vector<std::string> Paths(const std::vector<OscMessage>& messages,
                               const std::vector<std::string>& wanted) {
    std::vector<std::string> paths;
    for (const OscMessage& m : messages) {
        if (std::find(wanted.begin(), wanted.end(), m.path) != wanted.end()) {
            paths.push_back(m.path);
        }
    }
    return paths;
}

bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + NsmFakeServer::kTimeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

TEST(NsmClient, AnnounceSaysWhatTheProgramCanDoAndKeepsTheServersAnswer) {
    NsmFakeServer server;
    ASSERT_TRUE(server.Running());
    Program program;
    auto client = StartClient(server, program);
    const OscMessage announce = *server.WaitFor("/nsm/server/announce");
    EXPECT_EQ(announce.types, "sssiii");
    EXPECT_EQ(announce.Text(0), "Corvane");
    EXPECT_EQ(announce.Text(1), ":dirty:optional-gui:");
    EXPECT_EQ(announce.Text(2), "corvane");
    EXPECT_EQ(announce.Int(3), 1);
    EXPECT_EQ(announce.Int(4), 2);
    EXPECT_EQ(announce.Int(5), getpid());
    EXPECT_NE(client->Url().find(std::to_string(announce.sourcePort)), std::string::npos);

    ASSERT_TRUE(Eventually([&] { return !client->ServerName().empty(); }));
    EXPECT_EQ(client->ServerName(), "Fake NSM");
    EXPECT_TRUE(client->ServerCan("optional-gui"));
    EXPECT_FALSE(client->ServerCan("optional"));
    EXPECT_FALSE(client->Opened());

    NsmFakeServer plain;
    Program withoutGui;
    auto bare = StartClient(plain, withoutGui, false);
    EXPECT_EQ(plain.WaitFor("/nsm/server/announce")->Text(1), ":dirty:");
}

TEST(NsmClient, OpenAndSaveRunOnTheProgramsThreadAndAreAnswered) {
    NsmFakeServer server;
    Program program;
    program.openResults = {{kNsmErrCreateFailed, "cannot make the folder"}};
    auto client = StartClient(server, program);

    // Nothing to save before a session is open: the program is not asked.
    ASSERT_TRUE(server.Save());
    ASSERT_TRUE(program.tasks.Run());
    const auto early = server.WaitForAnswer("/nsm/client/save");
    ASSERT_TRUE(early);
    EXPECT_EQ(early->path, "/error");
    EXPECT_EQ(early->Int(1), kNsmErrNoSessionOpen);
    EXPECT_EQ(program.saves, 0);

    ASSERT_TRUE(server.Open("/sessions/a/Corvane.nABCD", "Corvane", "nABCD"));
    ASSERT_TRUE(program.tasks.RunUntil([&] { return program.opens.size() == 1; }));
    const auto refused = server.WaitForAnswer("/nsm/client/open");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->path, "/error");
    EXPECT_EQ(refused->types, "sis");
    EXPECT_EQ(refused->Int(1), kNsmErrCreateFailed);
    EXPECT_EQ(refused->Text(2), "cannot make the folder");
    EXPECT_FALSE(client->Opened());

    ASSERT_TRUE(server.Open("/sessions/a/Corvane.nABCD", "Corvane", "nABCD"));
    ASSERT_TRUE(program.tasks.RunUntil([&] { return program.opens.size() == 2; }));
    EXPECT_EQ(program.opens[1].path, "/sessions/a/Corvane.nABCD");
    EXPECT_EQ(program.opens[1].displayName, "Corvane");
    EXPECT_EQ(program.opens[1].clientId, "nABCD");
    const auto opened = server.WaitForAnswer("/nsm/client/open", 2);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path, "/reply");
    EXPECT_EQ(opened->Text(1), "OK");
    EXPECT_TRUE(client->Opened());

    ASSERT_TRUE(server.Save());
    ASSERT_TRUE(program.tasks.RunUntil([&] { return program.saves == 1; }));
    const auto saved = server.WaitForAnswer("/nsm/client/save", 2);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->path, "/reply");
    EXPECT_EQ(saved->Text(1), "OK");

    program.saveResult = {kNsmErrGeneral, "The disk is full."};
    ASSERT_TRUE(server.Save());
    ASSERT_TRUE(program.tasks.RunUntil([&] { return program.saves == 2; }));
    const auto failed = server.WaitForAnswer("/nsm/client/save", 3);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->path, "/error");
    EXPECT_EQ(failed->Int(1), kNsmErrGeneral);
    EXPECT_EQ(failed->Text(2), "The disk is full.");

    EXPECT_FALSE(program.onOtherThread);
    // Every reply came from the port the client announced from.
    const int port = server.WaitFor("/nsm/server/announce")->sourcePort;
    for (const OscMessage& m : server.Messages()) {
        EXPECT_EQ(m.sourcePort, port) << m.path;
    }
}

TEST(NsmClient, DirtyAndCleanAreSaidOnlyOnAChangeAfterOpen) {
    NsmFakeServer server;
    Program program;
    auto client = StartClient(server, program);
    client->SetDirty(true);  // no session yet: nothing to be dirty
    ASSERT_TRUE(server.Open("/s/c", "Corvane", "nA"));
    ASSERT_TRUE(program.tasks.RunUntil([&] { return client->Opened(); }));
    ASSERT_TRUE(server.WaitForAnswer("/nsm/client/open"));
    client->SetDirty(false);
    client->SetDirty(true);
    client->SetDirty(true);
    client->SetDirty(false);
    client->SetDirty(false);
    client->SetDirty(true);
    ASSERT_TRUE(server.WaitFor("/nsm/client/is_dirty", 2));
    EXPECT_EQ(Paths(server.Messages(), {"/nsm/client/is_dirty", "/nsm/client/is_clean"}),
              (std::vector<std::string>{"/nsm/client/is_dirty", "/nsm/client/is_clean",
                                        "/nsm/client/is_dirty"}));
    EXPECT_EQ(server.WaitFor("/nsm/client/is_dirty")->types, "");
}

TEST(NsmClient, OptionalGuiIsShownAndHiddenOnRequestOnlyWhenTheProgramHasOne) {
    NsmFakeServer server;
    Program program;
    auto client = StartClient(server, program);
    ASSERT_TRUE(server.HideGui());
    ASSERT_TRUE(server.ShowGui());
    ASSERT_TRUE(program.tasks.RunUntil([&] { return program.guiRequests.size() == 2; }));
    EXPECT_EQ(program.guiRequests, (std::vector<bool>{false, true}));
    EXPECT_FALSE(program.onOtherThread);
    client->SetGuiShown(false);
    client->SetGuiShown(true);
    ASSERT_TRUE(server.WaitFor("/nsm/client/gui_is_shown"));
    EXPECT_EQ(Paths(server.Messages(), {"/nsm/client/gui_is_hidden", "/nsm/client/gui_is_shown"}),
              (std::vector<std::string>{"/nsm/client/gui_is_hidden", "/nsm/client/gui_is_shown"}));

    // Without an optional GUI the requests reach nothing and nothing about a GUI is said. The
    // open behind them shows that they were read first.
    NsmFakeServer other;
    Program bare;
    auto plain = StartClient(other, bare, false);
    ASSERT_TRUE(other.ShowGui());
    ASSERT_TRUE(other.HideGui());
    ASSERT_TRUE(other.Open("/s/d", "Corvane", "nB"));
    ASSERT_TRUE(bare.tasks.RunUntil([&] { return bare.opens.size() == 1; }));
    EXPECT_EQ(bare.tasks.Posted(), 1);
    plain->SetGuiShown(true);
    plain->SetDirty(true);
    ASSERT_TRUE(other.WaitFor("/nsm/client/is_dirty"));
    EXPECT_TRUE(other.Messages("/nsm/client/gui_is_shown").empty());
}

TEST(NsmClient, ARefusedAnnounceIsSaidOnStderrAndTheClientGoesOn) {
    NsmFakeServer server;
    server.RefuseAnnounces(kNsmErrIncompatibleApi, "Your API is too new for me.");
    Program program;
    ::testing::internal::CaptureStderr();
    auto client = StartClient(server, program);
    // liblo's thread reads in order: once the open behind it is handled, the error was too.
    ASSERT_TRUE(server.Open("/s/e", "Corvane", "nC"));
    const bool opened = program.tasks.RunUntil([&] { return program.opens.size() == 1; });
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened);
    EXPECT_NE(said.find("corvane: "), std::string::npos) << said;
    EXPECT_NE(said.find("Your API is too new for me."), std::string::npos) << said;
    EXPECT_TRUE(client->ServerName().empty());
}

TEST(NsmClient, WhatIsNotAWellFormedMessageFromTheSessionManagerIsIgnored) {
    NsmFakeServer server;
    Program program;
    auto client = StartClient(server, program);
    const int clientPort = server.WaitFor("/nsm/server/announce")->sourcePort;

    ASSERT_TRUE(server.SendBytes({'n', 'o', 't', ' ', 'O', 'S', 'C'}));
    // A path and a type tag that promises strings the packet does not hold.
    const std::string cut("/nsm/client/open\0\0\0\0,sss\0\0\0\0", 28);
    ASSERT_TRUE(server.SendBytes(std::vector<std::uint8_t>(cut.begin(), cut.end())));
    ASSERT_TRUE(server.Send("/nsm/client/open", {OscArg::Text("/s/f"), OscArg::Text("Corvane")}));
    ASSERT_TRUE(server.Send("/nsm/client/open", {OscArg::Int(1), OscArg::Int(2), OscArg::Int(3)}));
    ASSERT_TRUE(server.Send("/nsm/client/frobnicate", {OscArg::Text("x")}));
    ASSERT_TRUE(server.Send("/reply", {}));
    ASSERT_TRUE(server.Send("/error", {OscArg::Int(-1)}));
    ASSERT_TRUE(server.Send("/reply", {OscArg::Text("/nsm/server/announce"), OscArg::Int(7)}));
    ASSERT_TRUE(NsmFakeServer::SendFromElsewhere(
        clientPort, "/nsm/client/open",
        {OscArg::Text("/tmp/elsewhere"), OscArg::Text("Corvane"), OscArg::Text("nX")}));
    ASSERT_TRUE(NsmFakeServer::SendFromElsewhere(clientPort, "/nsm/client/save", {}));

    ASSERT_TRUE(server.Open("/s/good", "Corvane", "nD"));
    ASSERT_TRUE(program.tasks.RunUntil([&] { return !program.opens.empty(); }));
    ASSERT_TRUE(server.WaitForAnswer("/nsm/client/open"));
    EXPECT_EQ(program.tasks.Posted(), 1);
    ASSERT_EQ(program.opens.size(), 1u);
    EXPECT_EQ(program.opens[0].path, "/s/good");
    EXPECT_EQ(program.saves, 0);
    EXPECT_TRUE(client->Opened());
}

TEST(NsmClient, UnusableUrlsAndMissingHandlersAreRefusedWithAReason) {
    Program program;
    for (const char* url :
         {"", "garbage", "http://127.0.0.1:80/", "osc.tcp://127.0.0.1:9000/",
          "osc.udp://127.0.0.1/", "osc.udp://127.0.0.1:port/", "osc.udp://127.0.0.1:70000/"}) {
        std::string error;
        EXPECT_EQ(NsmClient::Start(url, "Corvane", "corvane", program.Handlers(), error), nullptr)
            << url;
        EXPECT_FALSE(error.empty()) << url;
    }
    NsmFakeServer server;
    NsmHandlers noSave = program.Handlers();
    noSave.save = {};
    std::string error;
    EXPECT_EQ(NsmClient::Start(server.Url(), "Corvane", "corvane", noSave, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(server.Messages().empty());
}

TEST(NsmClient, TasksStillQueuedWhenTheClientGoesDoNothing) {
    NsmFakeServer server;
    Program program;
    auto client = StartClient(server, program);
    ASSERT_TRUE(server.Open("/s/g", "Corvane", "nE"));
    ASSERT_TRUE(server.Save());
    ASSERT_TRUE(Eventually([&] { return program.tasks.Posted() == 2; }));
    client.reset();
    EXPECT_FALSE(program.tasks.RunUntil([] { return false; }, 200ms));
    EXPECT_TRUE(program.opens.empty());
    EXPECT_EQ(program.saves, 0);
}

}  // namespace
}  // namespace platform
