#include "resolve.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {
namespace {

// The lookup's answer, shared by the caller and the lookup's thread: whichever lets go last
// frees what the resolver gave.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int code = 0;
    addrinfo* found = nullptr;

    ~Lookup() {
        if (found != nullptr) {
            freeaddrinfo(found);
        }
    }
};

}  // namespace

int ResolveWithin(const std::string& host, const std::string& port, const addrinfo& hints,
                  std::chrono::milliseconds limit, addrinfo*& found, AddressLookup lookup) {
    found = nullptr;
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    if (const int code = lookup(host.c_str(), port.c_str(), &numeric, &found); code != EAI_NONAME) {
        return code;
    }
    auto shared = std::make_shared<Lookup>();
    try {
        std::thread([shared, host, port, hints, lookup] {
            addrinfo* answer = nullptr;
            const int code = lookup(host.c_str(), port.c_str(), &hints, &answer);
            std::lock_guard lock(shared->mutex);
            shared->code = code;
            shared->found = code == 0 ? answer : nullptr;
            shared->finished = true;
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return lookup(host.c_str(), port.c_str(), &hints, &found);  // no thread: wait for it
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, limit, [&] { return shared->finished; })) {
        return kResolveTimedOut;
    }
    found = std::exchange(shared->found, nullptr);
    return shared->code;
}

std::string ResolveFailureText(int code, std::chrono::milliseconds limit) {
    if (code == kResolveTimedOut) {
        return "the name was not resolved within " +
               (limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " s"
                                          : std::to_string(limit.count()) + " ms");
    }
    return gai_strerror(code);
}

}  // namespace platform
