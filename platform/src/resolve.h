#pragma once

#include <netdb.h>

#include <chrono>
#include <string>

namespace platform {

// getaddrinfo's own signature, so that a test can stand in for the system's resolver.
using AddressLookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

// What ResolveWithin returns, beside getaddrinfo's codes, when the name took longer than asked.
constexpr int kResolveTimedOut = 1;

// getaddrinfo for host and port, waiting at most limit for a name. A numeric address is read at
// once. A name goes to the system's resolver on a thread of its own, since a resolver that
// cannot be reached holds its caller for as long as its own timeouts (ten seconds and more) and
// the caller is the window; when the limit passes first, the lookup is left to finish alone and
// its answer is dropped. On 0, found is the caller's to free with freeaddrinfo.
int ResolveWithin(const std::string& host, const std::string& port, const addrinfo& hints,
                  std::chrono::milliseconds limit, addrinfo*& found,
                  AddressLookup lookup = getaddrinfo);

// getaddrinfo's text for its codes, and for kResolveTimedOut what was waited for.
std::string ResolveFailureText(int code, std::chrono::milliseconds limit);

}  // namespace platform
