#include "platform/osc.h"

#include <fcntl.h>
#include <lo/lo.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/lo_arg_value.h"
#include "platform/midi_bytes.h"
#include "resolve.h"

namespace platform {
namespace {

// Seconds between 1900, where OSC time starts, and 1970.
constexpr std::uint64_t kEpochOffset = 2208988800u;
constexpr int kMaxBundleDepth = 4;
constexpr std::size_t kMaxSysExBytes = 4096;
constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
// How long a host's name may take to resolve: the window waits for it.
constexpr std::chrono::milliseconds kResolveLimit{2000};

std::size_t Padded(std::size_t length) {
    return (length + 4) & ~std::size_t{3};  // at least one zero byte after a string
}

void PutBigEndian(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t GetBigEndian(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

// Writes a zero-padded OSC string; returns the position after it.
std::uint8_t* PutString(std::uint8_t* at, std::string_view text) {
    const std::size_t padded = Padded(text.size());
    std::memcpy(at, text.data(), text.size());
    std::memset(at + text.size(), 0, padded - text.size());
    return at + padded;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool ParsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

// "HOST:PORT" or "[IPV6]:PORT".
bool SplitHostPort(std::string_view text, OscAddress& out) {
    std::string_view host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return false;  // an IPv6 address without brackets cannot be told from its port
        }
    }
    if (host.empty() || std::any_of(host.begin(), host.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return std::isspace(byte) || std::iscntrl(byte) || c == '/';
        })) {
        return false;
    }
    out.host = host;
    return ParsePort(port, out.port);
}

// The setting as typed, for a message: control characters (an escape sequence a terminal
// would act on) are shown as \xNN.
std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            const char* digits = "0123456789ABCDEF";
            quoted += {'\\', 'x', digits[byte >> 4], digits[byte & 0x0F]};
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// An integer argument: 32- or 64-bit integers in range, floats holding a whole number,
// booleans as 1 and 0.
bool IntArgument(char type, const lo_arg* arg, std::int32_t& out) {
    double value = 0;
    switch (type) {
        case LO_INT32:
            out = LoArgValue<std::int32_t>(arg);
            return true;
        case LO_INT64: {
            const auto wide = LoArgValue<std::int64_t>(arg);
            if (wide < INT32_MIN || wide > INT32_MAX) {
                return false;
            }
            out = static_cast<std::int32_t>(wide);
            return true;
        }
        case LO_FLOAT:
            value = LoArgValue<float>(arg);
            break;
        case LO_DOUBLE:
            value = LoArgValue<double>(arg);
            break;
        case LO_TRUE:
            out = 1;
            return true;
        case LO_FALSE:
            out = 0;
            return true;
        default:
            return false;
    }
    if (!std::isfinite(value) || value != std::floor(value) || value < INT32_MIN ||
        value > INT32_MAX) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

// Reads argument count integers, each within its [min, max].
struct Range {
    std::int32_t min;
    std::int32_t max;
};
bool IntArguments(const char* types, lo_arg** argv, int argc, std::span<const Range> ranges,
                  std::span<std::int32_t> values) {
    if (argc != static_cast<int>(ranges.size())) {
        return false;
    }
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (!IntArgument(types[i], argv[i], values[i]) || values[i] < ranges[i].min ||
            values[i] > ranges[i].max) {
            return false;
        }
    }
    return true;
}

// A whole system-exclusive message from hexadecimal text (pairs may be spaced) or a blob.
bool SysExArgument(char type, lo_arg* arg, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (type == LO_STRING) {
        const char* text = LoArgText(arg);
        int high = -1;
        for (const char* c = text; *c != '\0'; ++c) {
            if (std::isspace(static_cast<unsigned char>(*c)) && high < 0) {
                continue;
            }
            const int digit = HexValue(*c);
            if (digit < 0 || bytes.size() >= kMaxSysExBytes) {
                return false;
            }
            if (high < 0) {
                high = digit;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
                high = -1;
            }
        }
        if (high >= 0) {
            return false;
        }
    } else if (type == LO_BLOB) {
        const auto size = LoArgValue<std::int32_t>(arg);
        if (size < 0 || static_cast<std::size_t>(size) > kMaxSysExBytes) {
            return false;
        }
        const auto* data = reinterpret_cast<const std::uint8_t*>(arg) + sizeof size;
        bytes.assign(data, data + size);
    } else {
        return false;
    }
    if (bytes.size() < 2 || bytes.front() != midi::kSystemExclusive ||
        bytes.back() != midi::kEndOfExclusive) {
        return false;
    }
    return std::all_of(bytes.begin() + 1, bytes.end() - 1, [](std::uint8_t b) { return b < 0x80; });
}

// A UDP socket on the first of the address's resolutions that link (connect or bind) takes.
// Returns the descriptor, or kUnresolved with ResolveWithin's code in cause, or -1 with errno's.
constexpr int kUnresolved = -2;
int UdpSocket(const OscAddress& address, int flags, int socketFlags,
              int (*link)(int, const sockaddr*, socklen_t), int& cause) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int failed = ResolveWithin(address.host, port, hints, kResolveLimit, found);
        failed != 0) {
        cause = failed;
        return kUnresolved;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | socketFlags | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && link(fd, a->ai_addr, a->ai_addrlen) != 0) {
            cause = errno;
            close(fd);
            fd = -1;
        } else if (fd < 0) {
            cause = errno;
        }
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

OscTime ToOscTime(std::chrono::system_clock::time_point when) {
    const auto since = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    OscTime time;
    time.seconds =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds.count()) + kEpochOffset);
    time.fraction =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(nanos.count()) << 32) / 1000000000u);
    return time;
}

OscTime OscNow() {
    return ToOscTime(std::chrono::system_clock::now());
}

void OscBundle::Begin(OscTime time) {
    std::memcpy(data_.data(), kBundleTag, sizeof kBundleTag);
    PutBigEndian(data_.data() + 8, time.seconds);
    PutBigEndian(data_.data() + 12, time.fraction);
    size_ = 16;
    messages_ = 0;
}

bool OscBundle::AddInts(std::string_view address, std::span<const std::int32_t> values) {
    char tags[16] = {','};
    if (values.size() + 1 >= sizeof tags) {
        return false;
    }
    std::fill_n(tags + 1, values.size(), 'i');
    const std::string_view tagText(tags, values.size() + 1);
    const std::size_t length = Padded(address.size()) + Padded(tagText.size()) + 4 * values.size();
    if (size_ < 16 || size_ + 4 + length > kCapacity) {
        return false;
    }
    std::uint8_t* at = data_.data() + size_;
    PutBigEndian(at, static_cast<std::uint32_t>(length));
    at = PutString(PutString(at + 4, address), tagText);
    for (const std::int32_t v : values) {
        PutBigEndian(at, static_cast<std::uint32_t>(v));
        at += 4;
    }
    size_ += 4 + length;
    ++messages_;
    return true;
}

bool OscBundle::AddIntFloat(std::string_view address, std::int32_t index, float value) {
    const std::size_t length = Padded(address.size()) + 4 + 8;
    if (size_ < 16 || size_ + 4 + length > kCapacity) {
        return false;
    }
    std::uint8_t* at = data_.data() + size_;
    PutBigEndian(at, static_cast<std::uint32_t>(length));
    at = PutString(PutString(at + 4, address), ",if");
    PutBigEndian(at, static_cast<std::uint32_t>(index));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutBigEndian(at + 4, bits);
    size_ += 4 + length;
    ++messages_;
    return true;
}

bool OscBundle::AddString(std::string_view address, std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::size_t length = Padded(address.size()) + 4 + Padded(text.size());
    if (size_ < 16 || size_ + 4 + length > kCapacity) {
        return false;
    }
    std::uint8_t* at = data_.data() + size_;
    PutBigEndian(at, static_cast<std::uint32_t>(length));
    PutString(PutString(PutString(at + 4, address), ",s"), text);
    size_ += 4 + length;
    ++messages_;
    return true;
}

bool AddMidiAsOsc(OscBundle& bundle, std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes[0] < 0x80) {
        return false;
    }
    const std::uint8_t status = bytes[0];
    auto hex = [&bundle](std::string_view address, std::span<const std::uint8_t> message) {
        // Written as text on the stack; a message too long for one bundle is refused anyway.
        char text[OscBundle::kCapacity];
        if (message.size() * 2 >= sizeof text) {
            return false;
        }
        for (std::size_t i = 0; i < message.size(); ++i) {
            text[2 * i] = kHexDigits[message[i] >> 4];
            text[2 * i + 1] = kHexDigits[message[i] & 0x0F];
        }
        return bundle.AddString(address, {text, message.size() * 2});
    };
    if (status == midi::kSystemExclusive) {
        return hex("/sysex", bytes);
    }
    if (status >= 0xF0) {
        const std::size_t length = status == midi::kSongPosition                              ? 3
                                   : status == midi::kTimeCode || status == midi::kSongSelect ? 2
                                                                                              : 1;
        return bytes.size() >= length && hex("/midi", bytes.first(length));
    }
    const std::uint8_t kind = status & midi::kKindMask;
    const std::size_t length =
        kind == midi::kProgramChange || kind == midi::kChannelPressure ? 2 : 3;
    if (bytes.size() < length) {
        return false;
    }
    const std::int32_t channel = (status & midi::kChannelMask) + 1;
    const std::int32_t d1 = bytes[1] & 0x7F;
    const std::int32_t d2 = length == 3 ? bytes[2] & 0x7F : 0;
    switch (kind) {
        case midi::kNoteOff: {
            const std::int32_t v[] = {channel, d1, 0};
            return bundle.AddInts("/note", v);
        }
        case midi::kNoteOn: {
            const std::int32_t v[] = {channel, d1, d2};
            return bundle.AddInts("/note", v);
        }
        case midi::kControlChange: {
            const std::int32_t v[] = {channel, d1, d2};
            return bundle.AddInts("/control", v);
        }
        case midi::kProgramChange: {
            const std::int32_t v[] = {channel, d1};
            return bundle.AddInts("/program", v);
        }
        case midi::kChannelPressure: {
            const std::int32_t v[] = {channel, d1};
            return bundle.AddInts("/pressure", v);
        }
        case midi::kPitchBend: {
            const std::int32_t v[] = {channel, d1 | (d2 << 7)};
            return bundle.AddInts("/pitch", v);
        }
        default:
            return hex("/midi", bytes.first(length));
    }
}

bool ParseOscOut(std::string_view text, OscAddress& out, std::string& error) {
    text = Trimmed(text);
    if (SplitHostPort(text, out)) {
        return true;
    }
    error =
        "OSC out needs a host and a port as HOST:PORT (such as 127.0.0.1:9000, or "
        "[::1]:9000), not " +
        Quoted(text) + "; the port is a number from 1 to 65535.";
    return false;
}

bool ParseOscIn(std::string_view text, OscAddress& out, std::string& error) {
    text = Trimmed(text);
    if (ParsePort(text, out.port)) {
        out.host = "127.0.0.1";
        return true;
    }
    if (SplitHostPort(text, out)) {
        return true;
    }
    error =
        "OSC in needs a port (such as 9000, heard on 127.0.0.1 only) or ADDRESS:PORT (such "
        "as 0.0.0.0:9000 for every network), not " +
        Quoted(text) + "; the port is a number from 1 to 65535.";
    return false;
}

std::unique_ptr<OscSender> OscSender::Open(const OscAddress& to, std::string& error) {
    const std::string peer = to.host + ":" + std::to_string(to.port);
    int cause = 0;
    const int fd = UdpSocket(to, 0, SOCK_NONBLOCK, connect, cause);
    if (fd < 0) {
        error =
            "OSC out cannot reach " + peer + ": " +
            (fd == kUnresolved ? ResolveFailureText(cause, kResolveLimit) : std::strerror(cause)) +
            ".";
        return nullptr;
    }
    return std::unique_ptr<OscSender>(new OscSender(fd, peer));
}

OscSender::~OscSender() {
    close(fd_);
}

bool OscSender::Send(const OscBundle& bundle) {
    if (bundle.Empty()) {
        return true;
    }
    const auto bytes = bundle.Bytes();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
            static_cast<ssize_t>(bytes.size())) {
            sent_.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        // A refusal belongs to an earlier datagram (nobody listened then); this one is tried
        // once more. A full buffer is not waited for.
        if (errno != ECONNREFUSED) {
            break;
        }
    }
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

int OscReader::Read(std::span<const std::uint8_t> packet,
                    const std::function<bool(const OscCommand&)>& accept) const {
    return ReadElement(packet, 0, accept);
}

int OscReader::ReadElement(std::span<const std::uint8_t> element, int depth,
                           const std::function<bool(const OscCommand&)>& accept) const {
    if (element.size() >= sizeof kBundleTag &&
        std::memcmp(element.data(), kBundleTag, sizeof kBundleTag) == 0) {
        // The time tag is not waited for: what a peer plays is played at once.
        if (depth >= kMaxBundleDepth || element.size() < 16) {
            return 1;
        }
        int ignored = 0;
        std::size_t at = 16;
        while (at < element.size()) {
            if (element.size() - at < 4) {
                return ignored + 1;
            }
            const std::uint32_t size = GetBigEndian(element.data() + at);
            at += 4;
            if (size == 0 || size % 4 != 0 || size > element.size() - at) {
                return ignored + 1;
            }
            ignored += ReadElement(element.subspan(at, size), depth + 1, accept);
            at += size;
        }
        return ignored;
    }
    OscCommand command;
    if (!ReadMessage(element, command)) {
        return 1;
    }
    return accept(command) ? 0 : 1;
}

bool OscReader::ReadMessage(std::span<const std::uint8_t> message, OscCommand& command) const {
    if (message.empty() || message.size() % 4 != 0 || message[0] != '/') {
        return false;
    }
    // liblo checks the whole message (padding, type tags, every argument's size) on its own
    // copy, so nothing below reads past what arrived.
    std::vector<std::uint8_t> copy(message.begin(), message.end());
    int result = 0;
    lo_message parsed = lo_message_deserialise(copy.data(), copy.size(), &result);
    if (parsed == nullptr) {
        return false;
    }
    const std::string_view address(reinterpret_cast<const char*>(copy.data()));
    const char* types = lo_message_get_types(parsed);
    const int argc = lo_message_get_argc(parsed);
    lo_arg** argv = lo_message_get_argv(parsed);
    bool ok = false;
    constexpr Range kChannel{1, 16};
    constexpr Range kData{0, 127};
    std::int32_t v[3] = {};
    auto channelMessage = [&](std::uint8_t kind, std::span<const Range> ranges) {
        if (!IntArguments(types, argv, argc, ranges, {v, ranges.size()})) {
            return false;
        }
        command.kind = OscCommand::Kind::Midi;
        command.bytes = {static_cast<std::uint8_t>(kind + v[0] - 1)};
        for (std::size_t i = 1; i < ranges.size(); ++i) {
            command.bytes.push_back(static_cast<std::uint8_t>(v[i]));
        }
        return true;
    };
    if (address == "/note") {
        constexpr Range r[] = {kChannel, kData, kData};
        ok = channelMessage(midi::kNoteOn, r);
        if (ok && command.bytes[2] == 0) {
            command.bytes[0] = static_cast<std::uint8_t>(midi::kNoteOff + v[0] - 1);
        }
    } else if (address == "/control") {
        constexpr Range r[] = {kChannel, kData, kData};
        ok = channelMessage(midi::kControlChange, r);
    } else if (address == "/program") {
        constexpr Range r[] = {kChannel, kData};
        ok = channelMessage(midi::kProgramChange, r);
    } else if (address == "/pressure") {
        constexpr Range r[] = {kChannel, kData};
        ok = channelMessage(midi::kChannelPressure, r);
    } else if (address == "/pitch") {
        constexpr Range r[] = {kChannel, {0, 16383}};
        ok = channelMessage(midi::kPitchBend, r);
        if (ok) {
            command.bytes = {command.bytes[0], static_cast<std::uint8_t>(v[1] & 0x7F),
                             static_cast<std::uint8_t>(v[1] >> 7)};
        }
    } else if (address == "/sysex") {
        command.kind = OscCommand::Kind::Midi;
        ok = argc == 1 && SysExArgument(types[0], argv[0], command.bytes);
    } else if (address.size() > prefix_.size() + 1 && address.starts_with(prefix_) &&
               address[prefix_.size()] == '/') {
        const std::string_view name = address.substr(prefix_.size() + 1);
        for (const OscCommandRule& rule : rules_) {
            if (rule.name != name) {
                continue;
            }
            command.kind = OscCommand::Kind::Command;
            command.name = name;
            if (rule.takesValue) {
                const Range r[] = {{rule.min, rule.max}};
                ok = IntArguments(types, argv, argc, r, {&command.value, 1});
                command.hasValue = ok;
            } else if (argc == 0) {
                ok = true;
            } else {
                // A button on a touch layout sends 1 when pressed and 0 when let go.
                ok = argc == 1 && IntArgument(types[0], argv[0], command.value);
                command.hasValue = ok;
            }
            break;
        }
    }
    lo_message_free(parsed);
    return ok;
}

OscListener::OscListener(int fd, int wake, std::uint16_t port, OscReader reader,
                         std::function<bool(const OscCommand&)> handler)
    : fd_(fd), wake_(wake), port_(port), reader_(std::move(reader)), handler_(std::move(handler)) {
    thread_ = std::thread([this] { Run(); });
}

std::unique_ptr<OscListener> OscListener::Start(const OscAddress& at, OscReader reader,
                                                std::function<bool(const OscCommand&)> handler,
                                                std::string& error) {
    const std::string where = at.host + ":" + std::to_string(at.port);
    int cause = 0;
    const int fd = UdpSocket(at, AI_PASSIVE, 0, bind, cause);
    if (fd < 0) {
        error =
            "OSC in cannot listen on " + where + ": " +
            (fd == kUnresolved ? ResolveFailureText(cause, kResolveLimit) : std::strerror(cause)) +
            (fd != kUnresolved && cause == EADDRINUSE ? " (another program listens there)." : ".");
        return nullptr;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    std::uint16_t boundPort = at.port;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        boundPort = ntohs(bound.ss_family == AF_INET6
                              ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                              : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        error = "OSC in cannot start: " + std::string(std::strerror(errno)) + ".";
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<OscListener>(
        new OscListener(fd, wake, boundPort, std::move(reader), std::move(handler)));
}

OscListener::~OscListener() {
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
    close(wake_);
    close(fd_);
}

void OscListener::Run() {
    // The largest datagram UDP carries, so nothing that arrives is cut.
    std::vector<std::uint8_t> buffer(65536);
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (true) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t got = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0) {
            continue;
        }
        const int ignored = reader_.Read({buffer.data(), static_cast<std::size_t>(got)}, handler_);
        ignored_.fetch_add(static_cast<std::uint64_t>(got == 0 ? 1 : ignored));
        // Counted once handled: whoever sees the count sees what the packet did.
        packets_.fetch_add(1);
    }
}

float OscAxisValue(std::int32_t value, std::int32_t min, std::int32_t max) {
    if (max == min) {
        return 0.0f;
    }
    const double span = static_cast<double>(max) - min;
    const double position = 2.0 * (static_cast<double>(value) - min) / span - 1.0;
    return static_cast<float>(std::clamp(position, -1.0, 1.0));
}

}  // namespace platform
