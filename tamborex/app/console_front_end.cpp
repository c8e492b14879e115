#include "tamborex/app/console_front_end.h"

#include <cstdio>

namespace {

void Line(std::string_view text) {
    std::string line = text.starts_with("Tamborex: ") ? "" : "Tamborex: ";
    for (const char c : text) {
        line += c == '\n' ? ' ' : c;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

}  // namespace

void CConsoleFrontEnd::OnMessage(std::string_view text) {
    Line(text);
}

void CConsoleFrontEnd::OnControllerChanged(std::string_view name, bool present) {
    std::string said = present        ? "playing with " + std::string(name)
                       : name.empty() ? std::string("no controller attached")
                                      : std::string(name) + " is missing";
    if (said != controller_) {
        controller_ = said;
        Line(said);
    }
}

std::optional<bool> CConsoleFrontEnd::Ask(std::string_view question) {
    Line(std::string(question) + " (nobody to answer here: nothing is changed)");
    return std::nullopt;
}
