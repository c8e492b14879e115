#include "tamborex/storage/sysex_text.h"

#include <cctype>
#include <cstdio>

std::string FormatSysEx(const std::uint8_t* bytes, int length) {
    std::string text;
    for (int i = 0; i < length; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        if (i > 0) {
            text += ' ';
        }
        text += hex;
    }
    return text;
}

bool CheckSysEx(std::string& text, int messageNumber, std::string& firstMessage,
                std::string& secondMessage) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    firstMessage.clear();
    secondMessage.clear();
    int digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const int position = static_cast<int>(i) + 1;
        bool error = false;
        if (digits == 2) {
            if (c == ' ') {
                digits = 0;
            } else {
                firstMessage = "Space expected in SysEx message " + std::to_string(messageNumber) +
                               ", position " + std::to_string(position);
                error = true;
            }
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            ++digits;
        } else {
            firstMessage = std::string("Bad character '") + c + "' in SysEx message " +
                           std::to_string(messageNumber) + ", position " + std::to_string(position);
            error = true;
        }
        if (i + 1 == text.size() && digits == 1) {
            (error ? secondMessage : firstMessage) =
                "Incomplete byte at end of SysEx message " + std::to_string(messageNumber);
            return false;
        }
        if (error) {
            return false;
        }
    }
    return true;
}

int ParseSysEx(const std::string& text, std::uint8_t* buffer) {
    int length = 0;
    std::size_t at = 0;
    while (at + 1 < text.size() && length < kSysExBufferSize) {
        buffer[length++] = static_cast<std::uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16));
        at += 2;
        if (at < text.size() && text[at] == ' ') {
            ++at;
        }
    }
    return length;
}

bool SysExTooLong(const std::string& text, int messageNumber, std::string& message) {
    // A checked text of n bytes is 3n - 1 characters, or 3n with a trailing space.
    const std::size_t bytes = (text.size() + 1) / 3;
    if (bytes <= static_cast<std::size_t>(kSysExBufferSize)) {
        return false;
    }
    message = "SysEx message " + std::to_string(messageNumber) + " is " + std::to_string(bytes) +
              " bytes long; a message can hold at most " + std::to_string(kSysExBufferSize) +
              " bytes. Nothing was stored.";
    return true;
}

bool SysExUnframed(const std::string& text, int messageNumber, std::string& message) {
    // A checked text starts with its first byte and ends with its last, or a space after it.
    const std::string trimmed = text.substr(0, text.find_last_not_of(' ') + 1);
    if (trimmed.empty()) {
        return false;  // an unused message
    }
    const char* missing = trimmed.rfind("F0", 0) != 0                      ? "start with F0"
                          : trimmed.size() < 5 || !trimmed.ends_with("F7") ? "end with F7"
                                                                           : nullptr;
    if (missing == nullptr) {
        return false;
    }
    message = "SysEx message " + std::to_string(messageNumber) + " must " + missing +
              ". Nothing was stored.";
    return true;
}
