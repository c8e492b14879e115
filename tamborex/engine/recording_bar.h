#pragma once

// For tests: the bar as the engine, the bank and the bar core see it. Records every request in
// order and answers as the test says.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bar_core.h"

struct RecordingBar final : CBarWindow {
    std::vector<std::string> messages;  // message boxes and questions, in order
    std::vector<std::string> log;       // everything else
    std::string chooserAnswer;          // empty: the user cancels
    std::string chooserInitial;
    bool modified = false;
    bool answer = false;
    std::function<void()> onQuestion;

    void SetTimer(int id, unsigned ms) override {
        log.push_back("timer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillTimer(int id) override { log.push_back("kill " + std::to_string(id)); }
    void MessageBox(std::string_view text) override { messages.emplace_back(text); }
    void ShowActivity(bool) override {}
    void HideBar() override {}
    void PostToUiThread(std::function<void()> task) override { task(); }
    void ShowCurrentEntry() override { log.emplace_back("show"); }
    void PatchReloaded() override {}
    void PatchSaved() override { log.emplace_back("saved"); }
    void ApplyAlwaysOnTop() override { log.emplace_back("on top"); }
    std::array<std::int32_t, 2> JoyOptionsPosition() override { return {33, 44}; }
    bool ChooseFile(bool, std::string_view filter, std::string_view extension,
                    const std::string& initial, std::string& chosen) override {
        EXPECT_EQ(filter, "Tamborex Patch (*.txp) | *.txp");
        EXPECT_EQ(extension, "*.txp");
        log.emplace_back("chooser");
        chooserInitial = initial;
        chosen = chooserAnswer;
        return !chosen.empty();
    }
    std::array<std::int32_t, 2> BarPosition() override { return {12, 34}; }
    void MoveBar(std::int32_t x, std::int32_t y) override {
        log.push_back("move " + std::to_string(x) + " " + std::to_string(y));
    }
    void AddTrayIcon() override { log.emplace_back("tray on"); }
    void RemoveTrayIcon() override { log.emplace_back("tray off"); }
    bool PatchModified() override { return modified; }
    bool AskYesNo(std::string_view text) override {
        messages.emplace_back(text);
        if (onQuestion) {
            onQuestion();
        }
        return answer;
    }
};
