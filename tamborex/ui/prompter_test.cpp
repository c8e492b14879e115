#include "prompter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// What the chooser showed when it opened, then it is closed with a new file's name typed in.
struct ChooserVisit {
    std::string listed;  // the files there, one a line
    QString typed;

    void Arm() {
        QTimer::singleShot(0, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            listed = dialog->directory().entryList(QDir::Files).join("\n").toStdString();
            dialog->selectFile(typed);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }
};

// A folder whose name is not UTF-8 (here Latin-1), which Qt's text cannot hold: the chooser
// opened another folder with the same file name filled in, where one "Yes" wrote over that
// folder's patch. It opens in the folder itself, from a path to a patch there and from an empty
// one in the working folder (a new bank entry), and the file chosen comes back under the folder's
// own name.
TEST(QtPrompter, TheChooserOpensInAFolderWhoseNameIsNotUtf8AndGivesItsPathBack) {
    const fs::path top = fs::temp_directory_path() / ("tbx-chooser-" + std::to_string(getpid()));
    const fs::path folder = top / "B\xE4nd";
    fs::create_directories(folder);
    std::ofstream(folder / "song.txp") << "a patch";
    CQtPrompter prompter;
    const char* filter = "Tamborex Patch (*.txp) | *.txp";

    ChooserVisit visit{{}, "new.txp"};
    visit.Arm();
    std::string chosen;
    ASSERT_TRUE(prompter.ChooseFile(nullptr, true, filter, "*.txp", (folder / "song.txp").string(),
                                    chosen));
    EXPECT_EQ(visit.listed, "song.txp");
    EXPECT_EQ(chosen, (folder / "new.txp").string());

    const fs::path before = fs::current_path();
    fs::current_path(folder);
    ChooserVisit inWorkingFolder{{}, "other.txp"};
    inWorkingFolder.Arm();
    chosen.clear();
    const bool accepted = prompter.ChooseFile(nullptr, true, filter, "*.txp", "", chosen);
    fs::current_path(before);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(inWorkingFolder.listed, "song.txp");
    EXPECT_EQ(chosen, (folder / "other.txp").string());
    fs::remove_all(top);
}

// The Quit question's three buttons: Yes and No answer, Cancel and Escape go back.
TEST(QtPrompter, TheQuestionWithCancelAnswersYesNoAndGoesBackOnEscape) {
    CQtPrompter prompter;
    const auto answerWith = [&](QMessageBox::StandardButton button, bool escape) {
        QTimer::singleShot(0, [button, escape] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_NE(box->button(QMessageBox::Cancel), nullptr);
            if (escape) {
                box->reject();
            } else {
                box->button(button)->click();
            }
        });
        return prompter.AskOrCancel(nullptr, QStringLiteral("Save changes to current patch?"));
    };
    EXPECT_EQ(answerWith(QMessageBox::Yes, false), std::optional<bool>(true));
    EXPECT_EQ(answerWith(QMessageBox::No, false), std::optional<bool>(false));
    EXPECT_EQ(answerWith(QMessageBox::Cancel, false), std::nullopt);
    EXPECT_EQ(answerWith(QMessageBox::Yes, true), std::nullopt);
}

}  // namespace
