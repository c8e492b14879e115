#include "osc_recorder.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/lo_arg_value.h"

namespace testsupport {
namespace {

void Quiet(int, const char*, const char*) {}

}  // namespace

struct OscRecorder::Liblo {
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* data) {
        auto* self = static_cast<OscRecorder*>(data);
        Received r;
        r.at = std::chrono::steady_clock::now();
        r.message.path = path != nullptr ? path : "";
        r.message.types = types != nullptr ? types : "";
        for (int i = 0; i < argc && i < static_cast<int>(r.message.types.size()); ++i) {
            OscArg a;
            a.type = r.message.types[i];
            switch (a.type) {
                case 's':
                    a.text = reinterpret_cast<const char*>(argv[i]);
                    break;
                case 'i':
                    a.integer = platform::LoArgValue<std::int32_t>(argv[i]);
                    break;
                case 'f':
                    a.real = platform::LoArgValue<float>(argv[i]);
                    break;
                default:
                    break;
            }
            r.message.args.push_back(std::move(a));
        }
        std::lock_guard lock(self->mutex_);
        if (self->depth_ > 0) {
            r.bundle = self->bundles_;
            r.seconds = self->seconds_;
            r.fraction = self->fraction_;
        }
        self->received_.push_back(std::move(r));
        self->arrived_.notify_all();
        return 0;
    }
    static int OnBundleStart(lo_timetag time, void* data) {
        auto* self = static_cast<OscRecorder*>(data);
        std::lock_guard lock(self->mutex_);
        if (self->depth_++ == 0) {
            ++self->bundles_;
            self->seconds_ = time.sec;
            self->fraction_ = time.frac;
        }
        return 0;
    }
    static int OnBundleEnd(void* data) {
        auto* self = static_cast<OscRecorder*>(data);
        std::lock_guard lock(self->mutex_);
        --self->depth_;
        return 0;
    }
};

OscRecorder::OscRecorder() {
    lo_server_thread thread = lo_server_thread_new_with_proto(nullptr, LO_UDP, &Quiet);
    if (thread == nullptr) {
        return;
    }
    lo_server server = lo_server_thread_get_server(thread);
    // Only this machine's senders reach it, where the system allows.
    (void)setsockopt(lo_server_get_socket_fd(server), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3);
    port_ = lo_server_get_port(server);
    lo_server_thread_add_method(thread, nullptr, nullptr, &Liblo::OnMessage, this);
    lo_server_add_bundle_handlers(server, &Liblo::OnBundleStart, &Liblo::OnBundleEnd, this);
    thread_ = thread;
    lo_server_thread_start(thread);
}

OscRecorder::~OscRecorder() {
    if (thread_ != nullptr) {
        lo_server_thread_stop(static_cast<lo_server_thread>(thread_));
        lo_server_thread_free(static_cast<lo_server_thread>(thread_));
    }
}

std::vector<OscRecorder::Received> OscRecorder::All() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<OscRecorder::Received> OscRecorder::With(const std::string& path) const {
    std::vector<Received> found;
    for (Received& r : All()) {
        if (r.message.path == path) {
            found.push_back(std::move(r));
        }
    }
    return found;
}

bool OscRecorder::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool OscRecorder::WaitFor(const std::string& path, std::size_t count,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] {
        std::size_t n = 0;
        for (const Received& r : received_) {
            n += r.message.path == path ? 1 : 0;
        }
        return n >= count;
    });
}

void OscRecorder::Clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

bool SendOsc(int port, const std::string& path, const std::vector<OscArg>& args) {
    lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    lo_message m = lo_message_new();
    for (const OscArg& a : args) {
        switch (a.type) {
            case 's':
                lo_message_add_string(m, a.text.c_str());
                break;
            case 'i':
                lo_message_add_int32(m, static_cast<std::int32_t>(a.integer));
                break;
            case 'h':
                lo_message_add_int64(m, a.integer);
                break;
            case 'f':
                lo_message_add_float(m, static_cast<float>(a.real));
                break;
            case 'd':
                lo_message_add_double(m, a.real);
                break;
            case 'T':
                lo_message_add_true(m);
                break;
            case 'F':
                lo_message_add_false(m);
                break;
            default:
                lo_message_add_nil(m);
                break;
        }
    }
    const bool sent = lo_send_message(to, path.c_str(), m) >= 0;
    lo_message_free(m);
    lo_address_free(to);
    return sent;
}

bool SendDatagram(int port, const std::vector<std::uint8_t>& bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool sent = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return sent;
}

}  // namespace testsupport
