#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The error codes a session manager understands in an /error answer.
inline constexpr int kNsmErrGeneral = -1;
inline constexpr int kNsmErrIncompatibleApi = -2;
inline constexpr int kNsmErrBlacklisted = -3;
inline constexpr int kNsmErrLaunchFailed = -4;
inline constexpr int kNsmErrNoSuchFile = -5;
inline constexpr int kNsmErrNoSessionOpen = -6;
inline constexpr int kNsmErrUnsavedChanges = -7;
inline constexpr int kNsmErrNotNow = -8;
inline constexpr int kNsmErrBadProject = -9;
inline constexpr int kNsmErrCreateFailed = -10;
inline constexpr int kNsmErrSessionLocked = -11;

// What /nsm/client/open asks for: the folder (or file prefix) the program keeps this session's
// state under, the name the user sees, and the id to name the program's JACK or ALSA client.
struct NsmOpen {
    std::string path;
    std::string displayName;
    std::string clientId;
};

// 0 is success (answered "OK"); otherwise an NSM error code, answered with the message.
struct NsmResult {
    int code = 0;
    std::string message;
};

struct NsmHandlers {
    // Runs a task on the program's user-interface thread, after those posted before it. Every
    // handler below is called through it, never on liblo's thread.
    std::function<void(std::function<void()>)> post;
    std::function<NsmResult(const NsmOpen&)> open;  // /nsm/client/open
    std::function<NsmResult()> save;                // /nsm/client/save
    std::function<void(bool show)> showGui;         // empty: the program has no optional GUI
};

// A client of a session manager (NSM, API 1.2) over OSC. It listens on a UDP port of its own on
// liblo's thread; that thread only posts work, so the program never waits on it and every
// handler runs on the program's own thread, where the answer is sent as soon as the handler
// returns. Only messages from the session manager's port are heard, and a message that is
// malformed, unknown or of the wrong types is dropped.
//
// Create, use and destroy it on the user-interface thread. A task still queued when the client
// is destroyed does nothing when it runs.
class NsmClient {
  public:
    // Listens on a UDP port of its own and announces to url (NSM_URL). nullptr and a reason when
    // url cannot be used.
    static std::unique_ptr<NsmClient> Start(std::string_view url, std::string_view programName,
                                            std::string_view executable, NsmHandlers handlers,
                                            std::string& error);
    ~NsmClient();
    NsmClient(const NsmClient&) = delete;
    NsmClient& operator=(const NsmClient&) = delete;

    bool Opened() const;  // an open has been answered OK
    // /nsm/client/is_dirty or is_clean, only on a change (and not before open).
    void SetDirty(bool dirty);
    // /nsm/client/gui_is_shown or gui_is_hidden (nothing when the program has no optional GUI).
    void SetGuiShown(bool shown);

    // What the session manager said when it accepted the announce (empty until then): its name
    // and its capabilities (":server-control:optional-gui:" and the like).
    std::string ServerName() const;
    std::string ServerCapabilities() const;
    // Whether the server's capabilities include this one ("optional-gui").
    bool ServerCan(std::string_view capability) const;
    // The OSC URL this client listens on.
    std::string Url() const;

  private:
    struct Core;  // shared with the tasks it posts, so a late task finds it closed

    explicit NsmClient(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
};

// NSM_URL, or empty.
std::string NsmUrlFromEnvironment();

}  // namespace platform
