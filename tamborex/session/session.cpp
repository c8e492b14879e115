#include "tamborex/session/session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/file_io.h"
#include "tamborex/storage/patch_file.h"

namespace {

// The file beside path named after its stem with suffix in front of its extension.
std::string Beside(const std::string& path, const char* suffix, const char* extension) {
    std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + suffix + extension)).string();
}

std::vector<std::string> DeviceNames(const CMIDI& port) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < port.DeviceCount(); ++i) {
        names.push_back(port.GetDevName(static_cast<int>(i)));
    }
    return names;
}

constexpr std::size_t kMaxLongPortNamesSize = 1024 * 1024;

}  // namespace

CSession::CSession(platform::MidiService& midi, platform::JoystickService& joystick, CUiThread& ui,
                   std::string bankPath)
    : midiService_(midi),
      joystickService_(joystick),
      ui_(ui),
      bankPath_(std::move(bankPath)),
      thru_(midi),
      midiOut_(midi),
      joystick_(joystick, [this](std::string_view text) { Message(text); }),
      engine_(midiOut_, joystick_, ui, *this, *this),
      midiIn_(midi, [this](std::uint32_t m, std::uint32_t ts) { engine_.OnMidiInput(m, ts); }) {
    midiOut_.SetThru(&thru_);
    midiIn_.SetThru(&thru_);
    // Until the settings are read the engine takes no events (low latency starts off).
    joystickService_.SetEventListener([this](platform::JoyEvent event) {
        if (event == platform::JoyEvent::Input) {
            engine_.OnJoystickEvent();
        } else if (!controllersPosted_.exchange(true)) {
            ui_.Post([this] {
                controllersPosted_ = false;
                OnControllersChanged();
            });
        }
    });
}

CSession::~CSession() {
    joystickService_.SetEventListener({});
}

std::int16_t CSession::DeviceId(std::int32_t index) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(index, -1, INT16_MAX));
}

void CSession::AddObserver(CSessionObserver& observer) {
    observers_.push_back(&observer);
}

void CSession::RemoveObserver(CSessionObserver& observer) {
    std::erase(observers_, &observer);
}

void CSession::Message(std::string_view text) {
    Notify([text](CSessionObserver& o) { o.OnMessage(text); });
}

void CSession::Activity(bool lit) {
    Notify([lit](CSessionObserver& o) { o.OnActivity(lit); });
}

void CSession::ArpeggioWaiting(bool) {
    Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
}

std::optional<bool> CSession::Ask(std::string_view question) {
    return asker_ != nullptr ? asker_->Ask(question) : std::nullopt;
}

bool CSession::ChooseFile(bool save, std::string& chosen, std::int32_t entry) {
    // Where the entry's patch is, or the bank's folder for an entry without one: a path kept
    // without its folder is in the bank's folder, which need not be the working folder.
    const std::string& path = bank_.patchPaths[std::clamp(entry, 0, kBankEntries - 1)];
    const std::string initial = path.empty()
                                    ? (std::filesystem::path(bankPath_).parent_path() / "").string()
                                    : InBankFolder(path);
    return asker_ != nullptr &&
           asker_->ChooseFile(save, kPatchFilter, kPatchExtension, initial, chosen);
}

void CSession::SetModified(bool modified) {
    const bool before = PatchModified();
    modified_ = modified;
    if (!modified) {
        recoveredFrom_.clear();
    }
    if (PatchModified() != before) {
        Notify([now = PatchModified()](CSessionObserver& o) { o.OnPatchModified(now); });
    }
}

void CSession::MarkPatchModified() {
    SetModified(true);
}

void CSession::SetLowLatencyInput(bool on) {
    extra_.lowLatencyInput = on;
    engine_.SetLowLatency(on);
}

void CSession::SetMidiThru(bool on) {
    bank_.midiThru = on ? 1 : 0;
    thru_.SetWanted(on);
}

void CSession::Startup() {
    joystick_.Init();                // also ranges all six axes 0..127
    bank_.secondPos = bank_.barPos;  // where the bar is before the bank says
    bank_.patchName = bank_.patchNames[bank_.patchNumber];
    joystickCaps_ = joystickService_.ListJoysticks();
    if (joystickCaps_.empty()) {
        // A controller that is there but may not be read is not listed: say what to do.
        const std::string advice =
            platform::JoystickAccessAdvice(platform::UnreadableJoysticks(), "Tamborex");
        Message(advice.empty() ? "No joystick devices installed." : advice);
    }
    if (midiOut_.DeviceCount() == 0) {
        SayNoDevices("No MIDI out devices available.");
    }
    if (midiIn_.DeviceCount() == 0) {
        SayNoDevices("No MIDI in devices available.");
    }
    LoadBank();
    thru_.SetWanted(bank_.midiThru != 0);
    engine_.SetLowLatency(extra_.lowLatencyInput);
    Notify([](CSessionObserver& o) { o.OnBankRead(); });
    LoadPatchFile(bank_.patchPaths[bank_.patchNumber], bank_.patchNumber);
    const int input = FollowPort(midiIn_, "input", extra_.midiInPortName, bank_.midiInDevice);
    inputMissing_ = input < 0 && bank_.midiInDevice >= 0;
    if (input >= 0) {
        bank_.midiInDevice = input;
        if (!midiIn_.Open(DeviceId(input))) {
            Message("Error opening MIDI In Port: " + midiIn_.GetErrorText());
        }
    }
    started_ = true;
    slotEntry_ = bank_.patchNumber;
    FollowController();  // also when the entry has no patch file
    OfferRecovery();
    OfferKeptRecovery();
    Notify([](CSessionObserver& o) { o.OnEntrySelected(); });
    Notify([](CSessionObserver& o) { o.OnStarted(); });
    if (bank_.loadMinimized) {
        hideTimer_ = ui_.StartTimer(1000, [this] {
            hideTimer_->Stop();  // once
            Notify([](CSessionObserver& o) { o.OnHideRequested(); });
        });
    }
}

template <typename Save>
CSession::Offered CSession::OfferSave(const std::string& question, Save save) {
    // Nobody to answer is a request to end: the edits are kept for the next start.
    const std::optional<CSaveAnswer> answer =
        terminating_ || asker_ == nullptr ? std::nullopt : asker_->AskWithCancel(question);
    if (terminating_ || !answer) {
        // A request to end, also one that closed the question, keeps the edits.
        terminating_ = true;
        return Offered::Unanswered;
    }
    if (*answer == CSaveAnswer::Cancel) {
        return Offered::Cancelled;
    }
    if (*answer == CSaveAnswer::No) {
        return Offered::Declined;
    }
    if (save()) {
        SaveBank();  // the entry now names the file the patch went to
        return Offered::Saved;
    }
    // Cancelled or not written: back to the bar, nothing lost; or ended meanwhile.
    return terminating_ ? Offered::Unanswered : Offered::Cancelled;
}

bool CSession::Shutdown() {
    if (shutDown_) {
        return true;
    }
    // The bank first: a renamed entry is kept whatever the answers below.
    SaveBank();
    // Each unsaved patch is offered: the one in use, then those kept for other entries. Edits
    // restored from a recovery file and declined stay there for the next start; a Cancel goes
    // back to the bar with everything as it was (what was saved meanwhile stays saved).
    bool keepCurrent = false;
    if (PatchModified()) {
        switch (OfferSave("Save changes to current patch?", [this] { return SaveCommand(); })) {
            case Offered::Cancelled:
                return false;
            case Offered::Declined:
                keepCurrent = !recoveredFrom_.empty();
                break;
            case Offered::Unanswered:
                keepCurrent = true;
                break;
            case Offered::Saved:
                break;
        }
    }
    std::vector<std::int32_t> keepEntries;
    for (const std::int32_t entry : KeptEntries()) {
        const std::string& name = kept_.at(entry).name;
        const std::string question =
            "Save changes to the patch of bank entry " + std::to_string(entry) +
            (name.empty() || name == kNoPatchName ? "" : " (" + name + ")") +
            "? They were kept when another entry was selected.";
        switch (OfferSave(question, [this, entry] { return SaveKept(entry, {}); })) {
            case Offered::Cancelled:
                return false;
            case Offered::Declined:
                if (!kept_.at(entry).recoveredFrom.empty()) {
                    keepEntries.push_back(entry);
                }
                break;
            case Offered::Unanswered:
                keepEntries.push_back(entry);
                break;
            case Offered::Saved:
                break;
        }
    }
    if (keepCurrent || !keepEntries.empty()) {
        WriteRecovery(keepCurrent, keepEntries);
    }
    shutDown_ = true;
    if (!bankUnreadable_.empty()) {
        Say(bankPath_ + " could not be read at start (" + bankUnreadable_ +
            "), so it was left as it is. This session's bank was saved to " + sessionBankTarget_ +
            ".");
    }
    if (!extraUnreadable_.empty()) {
        Say(ExtraSettingsPath() + " could not be read at start (" + extraUnreadable_ +
            "), so it was left as it is. This session's settings were saved to " + extraTarget_ +
            ".");
    }
    engine_.StopTimers();
    hideTimer_.reset();
    // Nothing may keep sounding once the program is gone.
    engine_.SilenceOutput();
    for (CPatch& patch : engine_.patches) {
        patch.ReleaseSysEx();
    }
    joystick_.Release();
    Notify([](CSessionObserver& o) { o.OnShutDown(); });
    return true;
}

void CSession::SayNoDevices(const char* text) {
    Message(std::string(text) + "\n" + platform::NoMidiDevicesAdvice(midiService_, "Tamborex"));
}

void CSession::Say(const std::string& text) {
    if (terminating_) {
        const char* named = text.starts_with("Tamborex: ") ? "" : "Tamborex: ";
        std::fprintf(stderr, "%s%s\n", named, text.c_str());
    } else {
        Message(text);
    }
}

std::string CSession::RecoveryPath() const {
    return Beside(bankPath_, ".recovered", ".txp");
}

std::string CSession::RecoveryPath(std::int32_t entry) const {
    return Beside(bankPath_, (".recovered-" + std::to_string(entry)).c_str(), ".txp");
}

std::string CSession::SessionBankPath() const {
    return Beside(bankPath_, ".session", std::filesystem::path(bankPath_).extension().c_str());
}

void CSession::WriteRecovery(bool keepCurrent, const std::vector<std::int32_t>& entries) {
    // The patch in use goes where every version of Tamborex looks for it; those kept for other
    // entries beside it, one file each, named after their entry.
    std::set<std::string> written;
    std::set<std::string> before;
    const auto write = [&](const std::string& path, const std::string& name,
                           const std::array<CPatch, 2>& patches, const CMarksLeftOut& leftOut) {
        int cause = 0;
        platform::WriteStage failedAt{};
        if (!platform::WriteFileAtomically(path, FormatPatchFile(name, patches), cause, failedAt)) {
            Say("The unsaved patch could not be kept in " + path + " (" + std::strerror(cause) +
                ").");
            return false;
        }
        written.insert(path);
        KeepLeftOut(leftOut);
        return true;
    };
    if (keepCurrent) {
        CMarksLeftOut leftOut;
        if (write(RecoveryPath(), bank_.patchName, PatchesForFile(leftOut), leftOut)) {
            before.insert(recoveredFrom_);
        }
    }
    for (const std::int32_t entry : entries) {
        const CKeptPatch& kept = kept_.at(entry);
        if (write(RecoveryPath(entry), kept.name, kept.patches, kept.leftOut)) {
            before.insert(kept.recoveredFrom);
        }
    }
    // A restored patch that now belongs to another entry leaves its old file: it would be
    // offered for the wrong entry. One that could not be written anew (a full disk) keeps it:
    // it is then the only copy of those edits.
    for (const std::string& path : before) {
        if (!path.empty() && !written.contains(path)) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }
}

std::string CSession::LongPortNamesPath() const {
    return (std::filesystem::path(bankPath_).parent_path() / kLongPortNamesFile).string();
}

bool CSession::ReadLongPortNames(std::vector<std::string>& names, std::string& why) const {
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    names.clear();
    if (!platform::ReadWholeFile(LongPortNamesPath(), bytes, cause, kMaxLongPortNamesSize)) {
        why = cause == ENOENT ? "" : platform::ReadFailureText(cause, kMaxLongPortNamesSize);
        return cause == ENOENT;
    }
    names = ParseLongPortNames({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    return true;
}

void CSession::KeepLeftOut(const CMarksLeftOut& leftOut) {
    for (const std::string& what : leftOut.marks) {
        Say("The patch file has no room for " + what + ", so the patch was saved without it.");
    }
    const std::string& name = leftOut.wholePortName;
    std::vector<std::string> names;
    std::string why;
    if (name.empty() || (ReadLongPortNames(names, why) &&
                         std::find(names.begin(), names.end(), name) != names.end())) {
        return;
    }
    // What cannot be read is the user's: it is not written over.
    int cause = 0;
    platform::WriteStage failedAt{};
    if (why.empty() && name.find_first_of("\r\n") == std::string::npos) {
        names.push_back(name);
        if (platform::WriteFileAtomically(LongPortNamesPath(), FormatLongPortNames(names), cause,
                                          failedAt)) {
            return;
        }
        why = std::strerror(cause);
    }
    Say("The output port's name \"" + name + "\" is too long for the patch file and could not be " +
        "kept in " + LongPortNamesPath() + (why.empty() ? "" : " (" + why + ")") +
        ", so a start without that port will not say which port it was.");
}

void CSession::OfferRecovery() {
    const std::string path = RecoveryPath();
    if (!std::filesystem::exists(path)) {
        return;
    }
    const std::optional<bool> answer =
        Ask("Tamborex was ended with unsaved changes to the patch in use. They were kept in " +
            path + ".\nRestore them into the current bank entry?");
    if (!answer || terminating_) {
        // Nobody could say, or the program is being ended while the question is open: the edits
        // stay where they are for a start that can ask.
        return;
    }
    if (!*answer) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return;
    }
    // Restored: the file stays until the edits are saved, so a crash before that loses nothing.
    if (ReadPatch(path, bank_.patchNumber).loaded) {
        recoveredFrom_ = path;
        Notify([](CSessionObserver& o) { o.OnPatchModified(true); });
    }
}

void CSession::OfferKeptRecovery() {
    std::vector<std::int32_t> entries;
    std::string files;
    for (std::int32_t entry = 0; entry < kBankEntries; ++entry) {
        std::error_code ignored;
        const std::string path = RecoveryPath(entry);
        if (std::filesystem::is_regular_file(path, ignored)) {
            entries.push_back(entry);
            files += (files.empty() ? "" : ", ") + path;
        }
    }
    if (entries.empty()) {
        return;
    }
    std::string list;
    for (const std::int32_t entry : entries) {
        list += (list.empty() ? "" : ", ") + std::to_string(entry);
    }
    const std::optional<bool> answer =
        Ask(entries.size() == 1
                ? "Tamborex was ended with unsaved changes to the patch of bank entry " + list +
                      ". They were kept in " + files +
                      ".\nKeep them for that entry, to come back when it is selected?"
                : "Tamborex was ended with unsaved changes to the patches of bank entries " + list +
                      ". They were kept in " + files +
                      ".\nKeep them for those entries, to come back when an entry is selected?");
    if (!answer || terminating_) {
        return;
    }
    for (const std::int32_t entry : entries) {
        const std::string path = RecoveryPath(entry);
        std::error_code ignored;
        if (!*answer) {
            std::filesystem::remove(path, ignored);
            continue;
        }
        std::vector<std::uint8_t> bytes;
        int cause = 0;
        CKeptPatch kept;
        kept.patches = engine_.patches;
        std::string problem = platform::ReadWholeFile(path, bytes, cause)
                                  ? ReadPatchFile(bytes, kept.name, kept.patches)
                                  : platform::ReadFailureText(cause);
        if (!problem.empty()) {
            Message("Error opening patch file.\n" + path + " could not be read (" + problem +
                    "). It is left as it is.");
            continue;
        }
        kept.nameTyped = true;  // a name it was kept under is the user's
        kept.recoveredFrom = path;
        if (entry == slotEntry_) {
            // The entry in use: its patch is the one restored, unless the patch in use was.
            if (recoveredFrom_.empty() && TakePatch(bytes, path, entry).loaded) {
                recoveredFrom_ = path;
                Notify([](CSessionObserver& o) { o.OnPatchModified(true); });
            }
            continue;
        }
        kept_[entry] = std::move(kept);
    }
}

void CSession::LoadBank() {
    // What a save killed half-way left behind.
    platform::RemoveStaleTemporaries(bankPath_);
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    bankUnreadable_.clear();
    if (platform::ReadWholeFile(bankPath_, bytes, cause)) {
        std::vector<std::string> messages;
        ReadBank(bytes, bank_, messages);
        for (const std::string& message : messages) {
            Message(message);
        }
        SayUnusedSessionCopy(bankPath_);
    } else if (cause != ENOENT) {
        // Its entries are the user's: never written over, whatever happens in this session.
        bankUnreadable_ = platform::ReadFailureText(cause);
        Message("File IO error. [" + std::to_string(cause) + "] \n" + bankPath_ +
                " could not be read (" + bankUnreadable_ + "). It is left as it is; " +
                ReadSessionBank() + ".");
    }
    // Also on a first run: the bar shows, and the bank keeps, the entry's "(no patch)".
    bank_.patchName = bank_.patchNames[bank_.patchNumber];
    // Tamborex.ini likewise: one that cannot be read is never written over, and what this
    // session sets is kept beside it.
    bytes.clear();
    extraUnreadable_.clear();
    if (platform::ReadWholeFile(ExtraSettingsPath(), bytes, cause, kMaxExtraSettingsSize)) {
        SayUnusedSessionCopy(ExtraSettingsPath());
    } else if (cause != ENOENT) {
        extraUnreadable_ = platform::ReadFailureText(cause, kMaxExtraSettingsSize);
        const bool last =
            ReadSessionCopy(ExtraSettingsPath(), kMaxExtraSettingsSize, extraTarget_, bytes);
        Message(ExtraSettingsPath() + " could not be read (" + extraUnreadable_ +
                "). It is left as it is; " +
                (last ? "the settings of the last session, " + extraTarget_ +
                            ", are used and saved again."
                      : "this session's settings (the MIDI system, the input port, low-latency "
                        "input) will be saved to " +
                            extraTarget_ + "."));
    }
    extra_ = ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

bool CSession::ReadSessionCopy(const std::string& path, std::size_t maxSize, std::string& target,
                               std::vector<std::uint8_t>& bytes) {
    const std::string extension = std::filesystem::path(path).extension().string();
    target = Beside(path, ".session", extension.c_str());
    int cause = 0;
    if (platform::ReadWholeFile(target, bytes, cause, maxSize)) {
        return true;  // the last session left its work here: this one goes on from it
    }
    bytes.clear();
    if (cause != ENOENT) {
        // That one cannot be read either: it is kept too, and this session's copy goes beside
        // both under a name of its own.
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, ".session-%Y%m%d-%H%M%S", std::localtime(&now));
        target = Beside(path, stamp, extension.c_str());
    }
    return false;
}

// The work of sessions that could not read path, still beside it now that path reads again: it
// is not used, and not lost without a word either.
void CSession::SayUnusedSessionCopy(const std::string& path) {
    const std::filesystem::path copy =
        Beside(path, ".session", std::filesystem::path(path).extension().c_str());
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(copy, error))) {
        return;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    Message(copy.string() + " holds what was kept while " + name +
            " could not be read. It is left as it is and not used, now that " + name +
            " can be read again: to go on from it, put it in " + name + "'s place.");
}

std::string CSession::ReadSessionBank() {
    std::vector<std::uint8_t> bytes;
    if (ReadSessionCopy(bankPath_, platform::kMaxStoredFileSize, sessionBankTarget_, bytes)) {
        std::vector<std::string> messages;
        ReadBank(bytes, bank_, messages);
        for (const std::string& message : messages) {
            Message(message);
        }
        return "the bank of the last session, " + sessionBankTarget_ +
               ", is played and saved again";
    }
    return "this session's bank will be saved to " + sessionBankTarget_;
}

std::string CSession::InBankFolder(const std::string& path) const {
    const std::filesystem::path p(path);
    return p.is_relative() ? (std::filesystem::path(bankPath_).parent_path() / p).string() : path;
}

std::string CSession::ExtraSettingsPath() const {
    return (std::filesystem::path(bankPath_).parent_path() / kExtraSettingsFile).string();
}

int CSession::FollowPort(const CMIDI& port, const char* kind, const std::string& name, int index,
                         bool nameKnown) {
    const int now =
        nameKnown ? platform::FollowPortName(DeviceNames(port), name, index) : std::min(index, -1);
    if (now < 0 && index >= 0 && saidMissing_.insert(std::string(kind) + name).second) {
        Notify([kind, &name](CSessionObserver& o) { o.OnPortMissing(kind, name); });
        Message(platform::MissingPortMessage("Tamborex", kind, name));
    }
    return now;
}

std::string CSession::WholeOutputPortName(const CPatchMarks& marks, bool& known) const {
    known = true;
    if (marks.outputPortKey.empty()) {
        return marks.outputPort;
    }
    std::string whole = FindWholePortName(marks, DeviceNames(midiOut_));
    std::vector<std::string> kept;
    std::string why;
    if (whole.empty() && ReadLongPortNames(kept, why)) {
        whole = FindWholePortName(marks, kept);
    }
    known = !whole.empty();
    return known ? whole : marks.outputPort + "\u2026";
}

std::array<CPatch, 2> CSession::PatchesForFile(CMarksLeftOut& leftOut) const {
    std::array<CPatch, 2> patches = engine_.patches;
    CPatchMarks marks = ReadPatchMarks(patches[0]);
    const int device = patches[0].outputDevice;
    if (!outputMissing_) {
        marks.outputPort = device >= 0 ? midiOut_.GetDevName(device) : "";
        marks.outputPortKey.clear();
    }
    // The patch is made for the controller it is played with; while none is attached it keeps
    // the one it was made for.
    if (joystick_.initialised && !controllerCaps_.guid.empty() && controllerPresent_) {
        marks.controllerName = controllerCaps_.name;
        marks.controllerGuid = controllerCaps_.guid;
        patches[0].joystickNumber = controllerCaps_.number;
    }
    leftOut = WritePatchMarks(patches[0], marks);
    return patches;
}

platform::JoystickChoice CSession::ControllerChoice() const {
    const CPatch& slot0 = engine_.patches[0];
    const CPatchMarks marks = ReadPatchMarks(slot0);
    return {marks.controllerGuid, marks.controllerName, slot0.joystickNumber, marks.gamepadLayout};
}

void CSession::FollowController() {
    controllerPresent_ = joystick_.Follow(ControllerChoice());
    if (const auto held = joystickService_.Current(); held && controllerPresent_) {
        // With its counts from the list, which is read only when controllers come and go.
        const auto listed = std::find_if(
            joystickCaps_.begin(), joystickCaps_.end(),
            [&](const platform::JoystickCaps& c) { return c.instance == held->instance; });
        controllerCaps_ = listed != joystickCaps_.end() ? *listed : *held;
    } else if (std::string wanted = ReadPatchMarks(engine_.patches[0]).controllerName;
               !wanted.empty()) {
        controllerCaps_.name = std::move(wanted);  // the bar names the one the patch waits for
    }
    engine_.SetControllerMissing(!controllerPresent_);
    Notify([this](CSessionObserver& o) {
        o.OnControllerChanged(controllerCaps_.name, controllerPresent_);
    });
}

void CSession::ChooseController(int number, bool gamepadLayout) {
    CPatch& slot0 = engine_.patches[0];
    CPatchMarks marks = ReadPatchMarks(slot0);
    if (number >= 0 && number < static_cast<int>(joystickCaps_.size())) {
        marks.controllerName = joystickCaps_[number].name;
        marks.controllerGuid = joystickCaps_[number].guid;
        slot0.joystickNumber = number;
    }
    marks.gamepadLayout = gamepadLayout;
    WritePatchMarks(slot0, marks);
    FollowController();
    ApplyAxisRanges();
}

bool CSession::GamepadLayout() const {
    return ReadPatchMarks(engine_.patches[0]).gamepadLayout;
}

void CSession::ApplyAxisRanges() {
    // A shaped axis is read at its full 16 bits; the engine scales it.
    for (int axis = 0; axis < kAxisCount; ++axis) {
        engine_.ApplyAxisShape(axis);
    }
}

void CSession::OnControllersChanged() {
    if (!started_ || shutDown_) {
        return;
    }
    joystickCaps_ = joystickService_.ListJoysticks();
    FollowController();
    ApplyAxisRanges();
    // A pulled controller's buttons read as released now: their notes end at once, not at the
    // next tick; a new one plays from here.
    if (engine_.patches[0].active) {
        engine_.PollJoystick();
    }
    // Whatever the pulled controller still held by the ledger (a note its patch no longer
    // names after a switch) ends too; a keyboard's notes through thru play on.
    if (!controllerPresent_) {
        engine_.EndPlayedNotes();
    }
}

bool CSession::SaveBank() {
    bank_.patchNames[bank_.patchNumber] = bank_.patchName;
    const std::string path = bankUnreadable_.empty() ? bankPath_ : sessionBankTarget_;
    int cause = 0;
    platform::WriteStage failedAt{};
    bankSaveFailed_ = !platform::WriteFileAtomically(path, FormatBank(bank_), cause, failedAt);
    if (bankSaveFailed_) {
        Say(failedAt == platform::WriteStage::Create
                ? std::string("Tamborex: Error opening bank file for writing.")
                : "Tamborex: Error writing the bank file (" + std::string(std::strerror(cause)) +
                      "). The old file was left as it was.");
    }
    // The settings are a file of their own: a bank that cannot be written does not lose them.
    if (!inputMissing_) {
        extra_.midiInPortName =
            bank_.midiInDevice >= 0 ? midiIn_.GetDevName(bank_.midiInDevice) : std::string();
    }
    const std::string extraPath = extraUnreadable_.empty() ? ExtraSettingsPath() : extraTarget_;
    const std::vector<std::uint8_t> settings = FormatExtraSettings(extra_);
    settingsSaveFailed_ = !platform::WriteFileAtomically(extraPath, settings, cause, failedAt);
    if (settingsSaveFailed_) {
        std::string kept;
        if (extraUnreadable_.empty()) {
            // Beside it, where the next start looks when Tamborex.ini cannot be read.
            std::vector<std::uint8_t> ignored;
            ReadSessionCopy(ExtraSettingsPath(), kMaxExtraSettingsSize, extraTarget_, ignored);
            int copyCause = 0;
            if (platform::WriteFileAtomically(extraTarget_, settings, copyCause, failedAt)) {
                settingsSaveFailed_ = false;
                kept = " The settings were saved to " + extraTarget_ + ".";
            }
        }
        Say("Tamborex: Error writing " + extraPath + " (" + std::strerror(cause) + ")." + kept);
    }
    return !bankSaveFailed_;
}

int CSession::LoadPatchFile(const std::string& path, std::int32_t bankIndex) {
    return ReadPatch(path, bankIndex).opened ? 1 : 0;
}

CSession::PatchLoad CSession::ReadPatch(const std::string& path, std::int32_t bankIndex) {
    if (path.empty()) {
        return {false, true};
    }
    // A file that is refused changes nothing: the patch in use keeps its port and its polling.
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    if (!platform::ReadWholeFile(InBankFolder(path), bytes, cause)) {
        Message("Error opening patch file.\n" + path + " could not be read (" +
                platform::ReadFailureText(cause) + ").");
        return {};
    }
    return TakePatch(bytes, path, bankIndex);
}

CSession::PatchLoad CSession::TakePatch(std::span<const std::uint8_t> bytes,
                                        const std::string& path, std::int32_t bankIndex) {
    std::string name;
    std::array<CPatch, 2> loaded = engine_.patches;
    std::string notice;
    if (const std::string problem = ReadPatchFile(bytes, name, loaded, &notice); !problem.empty()) {
        Message(problem + "\n" + path + " is not a Tamborex patch that can be read.");
        return {};
    }
    if (!notice.empty()) {
        Message(notice + "\n" + path);
    }
    if (engine_.patches[0].outputDevice >= 0) {
        engine_.SilenceOutput();
        midiOut_.Open(-1);
    }
    engine_.patches = std::move(loaded);
    const CPatch& slot0 = engine_.patches[0];
    if (started_) {
        FollowController();  // the new patch may be made for another controller
    }
    bank_.patchName = name;
    bank_.patchNames[std::clamp(bankIndex, 0, kBankEntries - 1)] = name;
    slotName_ = name;
    nameTyped_ = false;
    // Whoever loads another patch has kept or saved the edits first; this one is as its file.
    SetModified(false);
    // A port remembered by name that is gone stays closed, like one that would not open, and
    // polling stays as it was; one that moved in the list is followed.
    bool known = true;
    const std::string port = WholeOutputPortName(ReadPatchMarks(slot0), known);
    const int output = FollowPort(midiOut_, "output", port, slot0.outputDevice, known);
    outputMissing_ = output < 0 && slot0.outputDevice >= 0;
    if (!outputMissing_) {
        engine_.patches[0].outputDevice = output;
    }
    const bool opened = !outputMissing_ && midiOut_.Open(DeviceId(output));
    if (!opened && !outputMissing_) {
        Message("Error setting midi out dev: " + midiOut_.GetErrorText());
    } else if (opened) {
        engine_.SetPatchActive(0, slot0.active);
    }
    ApplyAxisRanges();
    return {true, opened};
}

bool CSession::WritePatch(const std::string& path, const std::string& name,
                          const std::array<CPatch, 2>& patches, const CMarksLeftOut& leftOut) {
    int cause = 0;
    platform::WriteStage failedAt{};
    if (!platform::WriteFileAtomically(InBankFolder(path), FormatPatchFile(name, patches), cause,
                                       failedAt)) {
        Message(failedAt == platform::WriteStage::Create
                    ? "Can't open file " + path + " for writing!"
                    : "Could not write " + path + " (" + std::strerror(cause) +
                          "). The old file was left as it was.");
        return false;
    }
    KeepLeftOut(leftOut);
    return true;
}

std::string CSession::SavedName(const std::string& name, bool typed, const std::string& path) {
    // An entry's "(no patch)" is no name the user gave the patch.
    if (typed || name != kNoPatchName) {
        return name;
    }
    const std::string stem = std::filesystem::path(path).stem().string();
    return stem.empty() ? name : stem.substr(0, kMaxPatchNameLength);
}

bool CSession::SavePatchFile(const std::string& path) {
    CMarksLeftOut leftOut;
    const std::array<CPatch, 2> patches = PatchesForFile(leftOut);
    const std::string name = SavedName(bank_.patchName, nameTyped_, path);
    if (!WritePatch(path, name, patches, leftOut)) {
        return false;
    }
    bank_.patchPaths[bank_.patchNumber] = path;
    bank_.patchName = name;
    bank_.patchNames[bank_.patchNumber] = name;
    slotName_ = name;
    // The patch in use is now the one made for this controller, as the file says.
    engine_.patches[0].reserved = patches[0].reserved;
    engine_.patches[0].joystickNumber = patches[0].joystickNumber;
    if (!recoveredFrom_.empty()) {
        // The restored edits are in a file of the user's now.
        std::error_code ignored;
        std::filesystem::remove(recoveredFrom_, ignored);
    }
    SetModified(false);
    Notify([](CSessionObserver& o) { o.OnEntrySelected(); });  // the name may be the file's now
    Notify([&path](CSessionObserver& o) { o.OnPatchSaved(path); });
    return true;
}

bool CSession::SaveKept(std::int32_t entry, std::string path) {
    const auto found = kept_.find(entry);
    if (found == kept_.end() || (path.empty() && !ChooseFile(true, path, entry))) {
        return false;
    }
    CKeptPatch& kept = found->second;
    const std::string name = SavedName(kept.name, kept.nameTyped, path);
    if (!WritePatch(path, name, kept.patches, kept.leftOut)) {
        return false;
    }
    bank_.patchPaths[entry] = path;
    bank_.patchNames[entry] = name;
    if (!kept.recoveredFrom.empty()) {
        std::error_code ignored;
        std::filesystem::remove(kept.recoveredFrom, ignored);
    }
    kept_.erase(found);
    Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
    return true;
}

void CSession::KeepEdits() {
    if (!PatchModified()) {
        return;
    }
    CKeptPatch kept;
    kept.name = bank_.patchName;
    kept.patches = PatchesForFile(kept.leftOut);
    kept.nameTyped = nameTyped_;
    kept.recoveredFrom = recoveredFrom_;
    kept_[slotEntry_] = std::move(kept);
    SetModified(false);
}

std::vector<std::int32_t> CSession::KeptEntries() const {
    std::vector<std::int32_t> entries;
    for (const auto& [entry, kept] : kept_) {
        entries.push_back(entry);
    }
    return entries;
}

std::string CSession::PlayingPatchName() const {
    return bank_.patchPaths[bank_.patchNumber].empty() ? slotName_ : std::string();
}

std::string CSession::SilenceReason() const {
    std::string why;
    const auto add = [&why](const char* reason) {
        why += (why.empty() ? "" : ", ") + std::string(reason);
    };
    if (!controllerPresent_) {
        add("no controller");
    }
    if (engine_.patches[0].outputDevice < 0 || midiOut_.CurrentDevice() < 0) {
        add("no MIDI output chosen");
    }
    if (!engine_.patches[0].active) {
        add("patch inactive");
    }
    if (why.empty() && engine_.ArpeggioWaitsForClock()) {
        add("waiting for MIDI clock");
    }
    return why;
}

void CSession::LoadCommand() {
    // The patch in use is replaced: its edits are offered for saving first.
    if (PatchModified()) {
        const std::optional<CSaveAnswer> answer =
            asker_ != nullptr ? asker_->AskWithCancel("Save changes to current patch?")
                              : std::nullopt;
        if (!answer || *answer == CSaveAnswer::Cancel ||
            (*answer == CSaveAnswer::Yes && !SaveCommand())) {
            return;
        }
    }
    std::string chosen;
    if (ChooseFile(false, chosen)) {
        // Declined edits are not kept over the file the user chose.
        if (ReadPatch(chosen, bank_.patchNumber).loaded) {
            slotEntry_ = bank_.patchNumber;
        }
    }
    // An open Joystick options dialog must show the loaded patch: its next Apply would otherwise
    // write the old patch's numbers into the new one.
    Notify([](CSessionObserver& o) { o.OnPatchLoaded(); });
    Notify([](CSessionObserver& o) { o.OnEntrySelected(); });
}

bool CSession::SaveCommand() {
    std::string chosen;
    return ChooseFile(true, chosen) && SavePatchFile(chosen);
}

void CSession::SetPatchNumber(std::int32_t number) {
    bank_.patchNumber = std::clamp(number, 0, kBankEntries - 1);
}

void CSession::SelectPatch() {
    // Never a question here (this may be a program change in the middle of a song), and never
    // an edit lost: the edits stay with their entry until it is selected again or saved.
    KeepEdits();
    const std::int32_t entry = bank_.patchNumber;
    slotEntry_ = entry;
    nameTyped_ = false;
    bank_.patchName = bank_.patchNames[entry];
    if (const auto found = kept_.find(entry); found != kept_.end()) {
        CKeptPatch kept = std::move(found->second);
        kept_.erase(found);
        const bool typed = kept.nameTyped;
        if (TakePatch(FormatPatchFile(kept.name, kept.patches), kept.name, entry).loaded) {
            nameTyped_ = typed;
            modified_ = true;
            recoveredFrom_ = std::move(kept.recoveredFrom);
            Notify([](CSessionObserver& o) { o.OnPatchModified(true); });
        }
    } else {
        LoadPatchFile(bank_.patchPaths[entry], entry);
    }
    Notify([](CSessionObserver& o) { o.OnPatchLoaded(); });
    Notify([](CSessionObserver& o) { o.OnEntrySelected(); });
    Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
}

void CSession::Preset(int k) {
    if (k >= 0 && k < kPresets) {
        SetPatchNumber(bank_.presets[k]);
        SelectPatch();
    }
}

void CSession::Previous() {
    if (bank_.patchNumber > 0) {
        --bank_.patchNumber;
        SelectPatch();
    }
}

void CSession::Next() {
    if (bank_.patchNumber < kBankEntries - 1) {
        ++bank_.patchNumber;
        SelectPatch();
    }
}

void CSession::Rename(const std::string& name) {
    bank_.patchName = name;
    bank_.patchNames[bank_.patchNumber] = name;
    nameTyped_ = true;
    if (!bank_.patchPaths[bank_.patchNumber].empty()) {
        slotName_ = name;  // the entry's own patch
    }
}

std::string CSession::SessionFileFor(std::int32_t entry) const {
    // The patch goes into the bank's folder, so the folder holds the whole session. It writes
    // over its own file only: another file of that name there (another entry's patch, a file
    // of the user's) is kept, and the patch takes a name of its own beside it.
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(bankPath_).parent_path();
    const std::string& current = bank_.patchPaths[entry];
    fs::path target = folder / fs::path(current).filename();
    if (!fs::path(current).has_filename()) {
        target = folder / ("Entry " + std::to_string(entry) + ".txp");
    }
    std::error_code ignored;
    if (current.empty() || !fs::equivalent(target, InBankFolder(current), ignored)) {
        const std::string stem = target.stem().string();
        for (int n = 2; fs::exists(fs::symlink_status(target, ignored)); ++n) {
            target = folder / (stem + " " + std::to_string(n) + ".txp");
        }
    }
    // Kept by its name alone, so the folder stays whole when the manager copies or renames it.
    return target.filename().string();
}

bool CSession::SaveAll(std::string& error) {
    // The patches are written even when the bank could not be: the edits are what would be lost.
    if (!SaveBank()) {
        error = "the bank could not be written to " + bankPath_;
    }
    if (!PatchModified() && kept_.empty()) {
        return error.empty();
    }
    bool written = true;
    if (PatchModified()) {
        const std::string path = SessionFileFor(bank_.patchNumber);
        if (!SavePatchFile(path)) {
            error = "the patch could not be written to " + InBankFolder(path);
            written = false;
        }
    }
    for (const std::int32_t entry : KeptEntries()) {
        const std::string path = SessionFileFor(entry);
        if (!SaveKept(entry, path)) {
            error = "the patch of bank entry " + std::to_string(entry) +
                    " could not be written to " + InBankFolder(path);
            written = false;
        }
    }
    if (!SaveBank()) {
        error = "the bank could not be written to " + bankPath_;
    }
    return written && error.empty();
}
