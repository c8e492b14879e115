#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Files larger than this are not patch or bank files; reading them is refused.
inline constexpr std::size_t kMaxStoredFileSize = 16 * 1024 * 1024;

// A cause ReadWholeFile gives for a path that is not a regular file (a FIFO, a device, a folder).
inline constexpr int kNotRegularFile = -1;
// The cause for a link whose target does not exist (a drive not mounted): unlike a missing file
// it is not a first run, and the link is the user's, not to be replaced by a new file.
inline constexpr int kDanglingLink = -2;

// Reads a whole regular file of at most maxSize bytes. Nothing else is read: a FIFO or a device
// in place of the file is refused without blocking on it. On failure gives false and the
// cause: an errno value (ENOENT for a missing file, EFBIG for one larger than maxSize),
// kNotRegularFile or kDanglingLink.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& cause,
                   std::size_t maxSize = kMaxStoredFileSize);

// Why a read failed, for a message: the system's text for an errno value, the bound for a file
// too large (the maxSize the read was given), or what kind of file stood there instead.
std::string ReadFailureText(int cause, std::size_t maxSize = kMaxStoredFileSize);

// Where writing a file failed.
enum class WriteStage {
    Create,   // the temporary file could not be made: nothing was written
    Write,    // writing or flushing it
    Replace,  // renaming it over the old file
};

// Writes bytes to a temporary file in the same folder, flushes it to disk and renames it over
// path, so a crash or a full disk never destroys the previous file. The temporary is always a new
// file, so a link or a FIFO at path is replaced, never written through or waited on; it is named
// ".<path's name>.tmp-" and six letters or digits, a form nobody gives a file of their own. The
// new file keeps the old one's permissions. On failure the old file is untouched and the temporary
// removed; gives false, the errno-style cause and the stage that failed.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, int& cause,
                         WriteStage& failedAt);

// Deletes the temporaries WriteFileAtomically leaves beside path when the program is killed while
// it writes: regular files of the current user's with exactly that temporary's form of name, last
// changed more than minAgeSeconds ago (a younger one may be another instance's write in
// progress). Nothing else is touched, whatever it is called: a user's "Tamborex.bnk.backup" is
// theirs, and a link or a folder is neither removed nor followed. WriteFileAtomically calls it
// before each write. Gives how many were deleted.
int RemoveStaleTemporaries(const std::string& path, long minAgeSeconds = 60);

// Whether a folder is one that only the current user can reach: a real folder (not a link to
// one), owned by this user, which nobody else may read, write or enter.
enum class FolderState {
    Private,
    Missing,
    NotPrivate,  // something else stands there, or it is another user's or open to others
};
FolderState CheckPrivateFolder(const std::string& folder);

// The folder for files a running program leaves for the user's other programs (the MIDI counters
// tamborex-list-devices prints), where nobody else can plant a link or a FIFO: XDG_RUNTIME_DIR when
// it is private, else "<name>-<uid>" in TMPDIR (or /tmp), made with mode 0700 first when create is
// true. folder is set to the one chosen, or to the one that failed, for a message. Anything but
// Private means nothing should be written there or read from it.
FolderState PrivateRuntimeFolder(const std::string& name, bool create, std::string& folder);

// The name the MIDI counters' folder is asked for by: the JACK service publishes them there and
// tamborex-list-devices --stats reads them from it.
inline constexpr char kMidiCountersFolderName[] = "midi-counters";

}  // namespace platform
