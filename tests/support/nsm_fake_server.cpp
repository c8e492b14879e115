#include "nsm_fake_server.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

#include "platform/lo_arg_value.h"

namespace testsupport {

std::string OscMessage::Text(std::size_t i) const {
    return i < args.size() && args[i].type == 's' ? args[i].text : std::string();
}

std::int64_t OscMessage::Int(std::size_t i) const {
    return i < args.size() && (args[i].type == 'i' || args[i].type == 'h') ? args[i].integer : 0;
}

namespace {

void Quiet(int, const char*, const char*) {}

lo_message Build(const std::vector<OscArg>& args) {
    lo_message message = lo_message_new();
    for (const OscArg& a : args) {
        switch (a.type) {
            case 's':
                lo_message_add_string(message, a.text.c_str());
                break;
            case 'i':
                lo_message_add_int32(message, static_cast<std::int32_t>(a.integer));
                break;
            case 'h':
                lo_message_add_int64(message, a.integer);
                break;
            case 'f':
                lo_message_add_float(message, static_cast<float>(a.real));
                break;
            case 'd':
                lo_message_add_double(message, a.real);
                break;
            case 'T':
                lo_message_add_true(message);
                break;
            case 'F':
                lo_message_add_false(message);
                break;
            case 'N':
                lo_message_add_nil(message);
                break;
            default:
                lo_message_add_infinitum(message);
                break;
        }
    }
    return message;
}

}  // namespace

struct NsmFakeServer::Liblo {
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc,
                         lo_message message, void* data) {
        auto* self = static_cast<NsmFakeServer*>(data);
        OscMessage m;
        m.path = path != nullptr ? path : "";
        m.types = types != nullptr ? types : "";
        for (int i = 0; i < argc && i < static_cast<int>(m.types.size()); ++i) {
            OscArg a;
            a.type = m.types[i];
            switch (a.type) {
                case 's':
                case 'S':
                    a.type = 's';
                    a.text = reinterpret_cast<const char*>(argv[i]);
                    break;
                case 'i':
                    a.integer = platform::LoArgValue<std::int32_t>(argv[i]);
                    break;
                case 'h':
                    a.integer = platform::LoArgValue<std::int64_t>(argv[i]);
                    break;
                case 'f':
                    a.real = platform::LoArgValue<float>(argv[i]);
                    break;
                case 'd':
                    a.real = platform::LoArgValue<double>(argv[i]);
                    break;
                default:
                    break;
            }
            m.args.push_back(std::move(a));
        }
        const lo_address source = lo_message_get_source(message);
        const char* host = source != nullptr ? lo_address_get_hostname(source) : nullptr;
        const char* port = source != nullptr ? lo_address_get_port(source) : nullptr;
        m.sourcePort = port != nullptr ? std::atoi(port) : 0;

        std::lock_guard lock(self->mutex_);
        if (m.path == "/nsm/server/announce" && host != nullptr && port != nullptr) {
            if (self->client_ != nullptr) {
                lo_address_free(static_cast<lo_address>(self->client_));
            }
            self->client_ = lo_address_new(host, port);
            self->announcedPid_ = static_cast<int>(m.Int(5));
            const std::vector<OscArg> answer =
                self->accept_ ? std::vector<OscArg>{OscArg::Text("/nsm/server/announce"),
                                                    OscArg::Text("Howdy, what took you so long?"),
                                                    OscArg::Text(self->name_),
                                                    OscArg::Text(self->capabilities_)}
                              : std::vector<OscArg>{OscArg::Text("/nsm/server/announce"),
                                                    OscArg::Int(self->refuseCode_),
                                                    OscArg::Text(self->refuseMessage_)};
            lo_message reply = Build(answer);
            lo_send_message_from(static_cast<lo_address>(self->client_),
                                 lo_server_thread_get_server(self->thread_),
                                 self->accept_ ? "/reply" : "/error", reply);
            lo_message_free(reply);
        }
        self->messages_.push_back(std::move(m));
        self->arrived_.notify_all();
        return 0;
    }
};

NsmFakeServer::NsmFakeServer() {
    lo_server_thread thread = lo_server_thread_new_with_proto(nullptr, LO_UDP, &Quiet);
    if (thread == nullptr) {
        return;
    }
    lo_server server = lo_server_thread_get_server(thread);
    // Only this machine's clients talk to it; where the system allows, nothing else can.
    const int fd = lo_server_get_socket_fd(server);
    (void)setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3);
    port_ = lo_server_get_port(server);
    lo_server_thread_add_method(thread, nullptr, nullptr, &Liblo::OnMessage, this);
    thread_ = thread;  // before liblo's thread starts, which reads it
    if (lo_server_thread_start(thread) < 0) {
        lo_server_thread_free(thread);
        thread_ = nullptr;
    }
}

NsmFakeServer::~NsmFakeServer() {
    if (thread_ != nullptr) {
        lo_server_thread_stop(static_cast<lo_server_thread>(thread_));
        lo_server_thread_free(static_cast<lo_server_thread>(thread_));
    }
    if (client_ != nullptr) {
        lo_address_free(static_cast<lo_address>(client_));
    }
}

std::string NsmFakeServer::Url() const {
    return "osc.udp://127.0.0.1:" + std::to_string(port_) + "/";
}

void NsmFakeServer::AcceptAnnounces(std::string name, std::string capabilities) {
    std::lock_guard lock(mutex_);
    accept_ = true;
    name_ = std::move(name);
    capabilities_ = std::move(capabilities);
}

void NsmFakeServer::RefuseAnnounces(int code, std::string message) {
    std::lock_guard lock(mutex_);
    accept_ = false;
    refuseCode_ = code;
    refuseMessage_ = std::move(message);
}

std::vector<OscMessage> NsmFakeServer::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<OscMessage> NsmFakeServer::Messages(const std::string& path) const {
    std::vector<OscMessage> found;
    for (OscMessage& m : Messages()) {
        if (m.path == path) {
            found.push_back(std::move(m));
        }
    }
    return found;
}

std::optional<OscMessage> NsmFakeServer::WaitFor(const std::string& path, std::size_t count,
                                                 std::chrono::milliseconds timeout) {
    std::optional<OscMessage> last;
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] {
        std::size_t seen = 0;
        for (const OscMessage& m : messages_) {
            if (m.path == path && ++seen == count) {
                last = m;
                return true;
            }
        }
        return false;
    });
    return last;
}

std::optional<OscMessage> NsmFakeServer::WaitForAnswer(const std::string& command,
                                                       std::size_t count,
                                                       std::chrono::milliseconds timeout) {
    std::optional<OscMessage> last;
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] {
        std::size_t seen = 0;
        for (const OscMessage& m : messages_) {
            if ((m.path == "/reply" || m.path == "/error") && m.Text(0) == command &&
                ++seen == count) {
                last = m;
                return true;
            }
        }
        return false;
    });
    return last;
}

bool NsmFakeServer::WaitForAnnounce(std::chrono::milliseconds timeout) {
    return WaitFor("/nsm/server/announce", 1, timeout).has_value();
}

int NsmFakeServer::AnnouncedPid() const {
    std::lock_guard lock(mutex_);
    return announcedPid_;
}

bool NsmFakeServer::Send(const std::string& path, const std::vector<OscArg>& args) {
    std::lock_guard lock(mutex_);
    if (client_ == nullptr || thread_ == nullptr) {
        return false;
    }
    lo_message message = Build(args);
    const int sent =
        lo_send_message_from(static_cast<lo_address>(client_), lo_server_thread_get_server(thread_),
                             path.c_str(), message);
    lo_message_free(message);
    return sent >= 0;
}

bool NsmFakeServer::Open(const std::string& path, const std::string& displayName,
                         const std::string& clientId) {
    return Send("/nsm/client/open",
                {OscArg::Text(path), OscArg::Text(displayName), OscArg::Text(clientId)});
}

bool NsmFakeServer::Save() {
    return Send("/nsm/client/save", {});
}

bool NsmFakeServer::ShowGui() {
    return Send("/nsm/client/show_optional_gui", {});
}

bool NsmFakeServer::HideGui() {
    return Send("/nsm/client/hide_optional_gui", {});
}

bool NsmFakeServer::SessionIsLoaded() {
    return Send("/nsm/client/session_is_loaded", {});
}

bool NsmFakeServer::SendBytes(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    if (client_ == nullptr || thread_ == nullptr) {
        return false;
    }
    const auto client = static_cast<lo_address>(client_);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(lo_address_get_port(client))));
    if (inet_pton(AF_INET, lo_address_get_hostname(client), &to.sin_addr) != 1) {
        return false;
    }
    const int fd = lo_server_get_socket_fd(lo_server_thread_get_server(thread_));
    return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(bytes.size());
}

bool NsmFakeServer::SendFromElsewhere(int port, const std::string& path,
                                      const std::vector<OscArg>& args) {
    lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    lo_message message = Build(args);
    const int sent = lo_send_message(to, path.c_str(), message);
    lo_message_free(message);
    lo_address_free(to);
    return sent >= 0;
}

}  // namespace testsupport
