#include "qt_services.h"

#include <QWidget>

#include "prompter.h"

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

CQtServices::CQtServices(QWidget& window, CPrompter& prompter)
    : window_(window), prompter_(prompter) {}

QWidget* CQtServices::Parent() const {
    return window_.isVisible() ? &window_ : nullptr;
}

void CQtServices::Warn(std::string_view text) {
    prompter_.Warn(Parent(), Text(text));
}

bool CQtServices::Ask(std::string_view text) {
    return prompter_.Ask(&window_, Text(text));
}

std::optional<bool> CQtServices::AskOrCancel(std::string_view text) {
    return prompter_.AskOrCancel(&window_, Text(text));
}

bool CQtServices::ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                             const std::string& initial, std::string& chosen) {
    return prompter_.ChooseFile(Parent(), save, filter, defaultExtension, initial, chosen);
}
