#include "platform/nsm.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <lo/lo.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/lo_arg_value.h"

namespace platform {
namespace {

constexpr const char* kAnnounce = "/nsm/server/announce";
constexpr const char* kOpen = "/nsm/client/open";
constexpr const char* kSave = "/nsm/client/save";

// liblo reports a packet it cannot parse here; such a packet is simply not ours to act on.
void QuietLoError(int, const char*, const char*) {}

bool SameAddress(const sockaddr* a, const sockaddr* b) {
    if (a->sa_family != b->sa_family) {
        return false;
    }
    if (a->sa_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
    }
    if (a->sa_family == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return false;
}

bool IsLoopback(const sockaddr* a) {
    if (a->sa_family == AF_INET) {
        return (ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr) >> 24) == 127;
    }
    if (a->sa_family == AF_INET6) {
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr);
    }
    return false;
}

// Whether every address host stands for belongs to this machine. A session manager usually
// gives its URL with the machine's own name, which may resolve to a LAN address: that one is
// ours too, and its packets reach us through the loopback device all the same.
bool IsThisMachine(const char* host) {
    if (host == nullptr) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        interfaces = nullptr;
    }
    bool local = true;
    for (addrinfo* a = found; a != nullptr && local; a = a->ai_next) {
        bool mine = IsLoopback(a->ai_addr);
        for (ifaddrs* i = interfaces; i != nullptr && !mine; i = i->ifa_next) {
            mine = i->ifa_addr != nullptr && SameAddress(i->ifa_addr, a->ai_addr);
        }
        local = mine;
    }
    freeaddrinfo(found);
    if (interfaces != nullptr) {
        freeifaddrs(interfaces);
    }
    return local;
}

bool TypesBegin(const char* types, std::string_view expected) {
    return std::string_view(types != nullptr ? types : "").starts_with(expected);
}

}  // namespace

struct NsmClient::Core : std::enable_shared_from_this<Core> {
    std::string program;
    std::string executable;
    NsmHandlers handlers;
    lo_address server = nullptr;
    long serverPort = -1;

    // Guards the liblo objects against a send racing the close, and what liblo's thread writes.
    mutable std::mutex mutex;
    lo_server_thread thread = nullptr;
    bool closed = false;
    std::string serverName;
    std::string serverCapabilities;

    std::atomic<bool> opened{false};
    bool dirty = false;  // the user-interface thread's alone

    ~Core() { Close(); }

    void Close() {
        lo_server_thread running = nullptr;
        {
            std::lock_guard lock(mutex);
            closed = true;
            running = thread;
        }
        if (running != nullptr) {
            // Joins liblo's thread: after this nothing posts any more.
            lo_server_thread_stop(running);
        }
        std::lock_guard lock(mutex);
        if (thread != nullptr) {
            lo_server_thread_free(thread);
            thread = nullptr;
        }
        if (server != nullptr) {
            lo_address_free(server);
            server = nullptr;
        }
    }

    bool IsClosed() const {
        std::lock_guard lock(mutex);
        return closed;
    }

    // Takes ownership of message. Sent from our own port, so that the answers come back to us.
    bool Send(const char* path, lo_message message) {
        int sent = -1;
        {
            std::lock_guard lock(mutex);
            if (!closed && thread != nullptr && server != nullptr) {
                sent = lo_send_message_from(server, lo_server_thread_get_server(thread), path,
                                            message);
            }
        }
        lo_message_free(message);
        return sent >= 0;
    }

    void Reply(const char* to, const std::string& text) {
        lo_message message = lo_message_new();
        lo_message_add_string(message, to);
        lo_message_add_string(message, text.c_str());
        (void)Send("/reply", message);
    }

    void Error(const char* to, int code, const std::string& text) {
        lo_message message = lo_message_new();
        lo_message_add_string(message, to);
        lo_message_add_int32(message, code);
        lo_message_add_string(message, text.c_str());
        (void)Send("/error", message);
    }

    void Answer(const char* to, const NsmResult& result) {
        if (result.code == 0) {
            Reply(to, "OK");
        } else {
            Error(to, result.code, result.message);
        }
    }

    void Post(std::function<void(Core&)> work) {
        handlers.post([core = shared_from_this(), work = std::move(work)] {
            if (!core->IsClosed()) {
                work(*core);
            }
        });
    }

    // Anybody on this machine can send to our port: only the session manager is listened to.
    bool FromServer(lo_message message) const {
        const lo_address source = lo_message_get_source(message);
        const char* port = source != nullptr ? lo_address_get_port(source) : nullptr;
        return port != nullptr && std::strtol(port, nullptr, 10) == serverPort;
    }

    // liblo's thread: nothing here waits on the program.
    void Receive(const char* path, const char* types, lo_arg** argv, int argc, lo_message message) {
        if (path == nullptr || !FromServer(message)) {
            return;
        }
        const std::string_view to = path;
        if (to == kOpen && TypesBegin(types, "sss") && argc >= 3) {
            NsmOpen open{LoArgText(argv[0]), LoArgText(argv[1]), LoArgText(argv[2])};
            Post([open = std::move(open)](Core& core) {
                const NsmResult result = core.handlers.open(open);
                if (result.code == 0) {
                    core.opened = true;
                    core.dirty = false;
                }
                core.Answer(kOpen, result);
            });
        } else if (to == kSave) {
            Post([](Core& core) {
                if (!core.opened) {
                    core.Error(kSave, kNsmErrNoSessionOpen, "No session is open yet.");
                    return;
                }
                core.Answer(kSave, core.handlers.save());
            });
        } else if ((to == "/nsm/client/show_optional_gui" ||
                    to == "/nsm/client/hide_optional_gui") &&
                   handlers.showGui) {
            const bool show = to == "/nsm/client/show_optional_gui";
            Post([show](Core& core) { core.handlers.showGui(show); });
        } else if (to == "/reply" && TypesBegin(types, "ssss") &&
                   std::string_view(LoArgText(argv[0])) == kAnnounce) {
            std::lock_guard lock(mutex);
            serverName = LoArgText(argv[2]);
            serverCapabilities = LoArgText(argv[3]);
        } else if (to == "/error" && TypesBegin(types, "sis") &&
                   std::string_view(LoArgText(argv[0])) == kAnnounce) {
            std::fprintf(stderr, "%s: the session manager refused this program (error %d): %s\n",
                         executable.c_str(), static_cast<int>(LoArgValue<std::int32_t>(argv[1])),
                         LoArgText(argv[2]));
        }
    }

    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc,
                         lo_message message, void* self) {
        static_cast<Core*>(self)->Receive(path, types, argv, argc, message);
        return 0;
    }
};

NsmClient::NsmClient(std::shared_ptr<Core> core) : core_(std::move(core)) {}

NsmClient::~NsmClient() {
    core_->Close();
    // Queued tasks keep the core, not what the handlers reach: let go of that now.
    core_->handlers = {};
}

std::unique_ptr<NsmClient> NsmClient::Start(std::string_view url, std::string_view programName,
                                            std::string_view executable, NsmHandlers handlers,
                                            std::string& error) {
    if (!handlers.post || !handlers.open || !handlers.save) {
        error = "the program gave no way to open and save a session";
        return nullptr;
    }
    const std::string text(url);
    if (text.empty()) {
        error = "NSM_URL is empty";
        return nullptr;
    }
    if (lo_url_get_protocol_id(text.c_str()) != LO_UDP) {
        error = "NSM_URL \"" + text + "\" is not an OSC URL over UDP (osc.udp://HOST:PORT/)";
        return nullptr;
    }
    auto core = std::make_shared<Core>();
    core->program = programName;
    core->executable = std::filesystem::path(executable).filename().string();
    core->handlers = std::move(handlers);
    core->server = lo_address_new_from_url(text.c_str());
    const char* port = core->server != nullptr ? lo_address_get_port(core->server) : nullptr;
    char* end = nullptr;
    core->serverPort = port != nullptr ? std::strtol(port, &end, 10) : -1;
    if (core->server == nullptr || port == nullptr || end == port || *end != '\0' ||
        core->serverPort <= 0 || core->serverPort > 65535) {
        error = "NSM_URL \"" + text + "\" names no host and port";
        return nullptr;
    }

    core->thread = lo_server_thread_new_with_proto(nullptr, LO_UDP, &QuietLoError);
    if (core->thread == nullptr) {
        error = "cannot open a UDP port for the session manager's messages";
        return nullptr;
    }
    if (IsThisMachine(lo_address_get_hostname(core->server))) {
        // liblo listens on every interface; the session manager is on this machine, so nothing
        // from the network needs to reach this port. Where the system refuses, we still listen.
        const int fd = lo_server_get_socket_fd(lo_server_thread_get_server(core->thread));
        (void)setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3);
    }
    lo_server_thread_add_method(core->thread, nullptr, nullptr, &Core::OnMessage, core.get());
    if (lo_server_thread_start(core->thread) < 0) {
        error = "cannot listen for the session manager's messages";
        return nullptr;
    }

    const std::string capabilities = core->handlers.showGui ? ":dirty:optional-gui:" : ":dirty:";
    lo_message announce = lo_message_new();
    lo_message_add_string(announce, core->program.c_str());
    lo_message_add_string(announce, capabilities.c_str());
    lo_message_add_string(announce, core->executable.c_str());
    lo_message_add_int32(announce, 1);
    lo_message_add_int32(announce, 2);
    lo_message_add_int32(announce, static_cast<std::int32_t>(getpid()));
    if (!core->Send(kAnnounce, announce)) {
        std::lock_guard lock(core->mutex);
        const char* why = lo_address_errstr(core->server);
        error = "cannot send to NSM_URL \"" + text + "\"" +
                (why != nullptr ? std::string(": ") + why : std::string());
        return nullptr;
    }
    return std::unique_ptr<NsmClient>(new NsmClient(std::move(core)));
}

bool NsmClient::Opened() const {
    return core_->opened;
}

void NsmClient::SetDirty(bool dirty) {
    if (!core_->opened || dirty == core_->dirty) {
        return;
    }
    core_->dirty = dirty;
    (void)core_->Send(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", lo_message_new());
}

void NsmClient::SetGuiShown(bool shown) {
    if (!core_->handlers.showGui) {
        return;
    }
    (void)core_->Send(shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden",
                      lo_message_new());
}

std::string NsmClient::ServerName() const {
    std::lock_guard lock(core_->mutex);
    return core_->serverName;
}

std::string NsmClient::ServerCapabilities() const {
    std::lock_guard lock(core_->mutex);
    return core_->serverCapabilities;
}

bool NsmClient::ServerCan(std::string_view capability) const {
    const std::string wanted = ":" + std::string(capability) + ":";
    return ServerCapabilities().find(wanted) != std::string::npos;
}

std::string NsmClient::Url() const {
    std::lock_guard lock(core_->mutex);
    if (core_->thread == nullptr) {
        return {};
    }
    char* url = lo_server_thread_get_url(core_->thread);
    std::string text = url != nullptr ? url : "";
    std::free(url);
    return text;
}

std::string NsmUrlFromEnvironment() {
    const char* url = std::getenv("NSM_URL");
    return url != nullptr ? url : "";
}

}  // namespace platform
