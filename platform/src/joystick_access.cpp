// What the joystick service cannot see for itself: controllers this user may not read, and where
// the user's own gamepad layouts are.

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/joystick.h"

namespace platform {

std::vector<std::string> UnreadableJoysticks(const std::string& devDir,
                                             const std::string& udevDir) {
    namespace fs = std::filesystem;
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(devDir, error)) {
        const std::string path = entry.path().string();
        if (entry.path().filename().string().rfind("event", 0) != 0) {
            continue;
        }
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode) ||
            access(path.c_str(), R_OK) == 0) {
            continue;
        }
        // The device manager's record of the node says whether it is a joystick; it is readable
        // by everyone even where the node is not.
        std::ifstream record(udevDir + "/c" + std::to_string(major(info.st_rdev)) + ":" +
                             std::to_string(minor(info.st_rdev)));
        std::string line;
        while (std::getline(record, line)) {
            if (line == "E:ID_INPUT_JOYSTICK=1") {
                nodes.push_back(path);
                break;
            }
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

std::string JoystickAccessAdvice(const std::vector<std::string>& nodes, const char* program) {
    if (nodes.empty()) {
        return {};
    }
    std::string list;
    for (const std::string& node : nodes) {
        list += (list.empty() ? "" : ", ") + node;
    }
    return std::string("A joystick is attached, but ") + program + " may not read it (" + list +
           ").\nAdd yourself to the \"input\" group (sudo usermod -aG input $USER, then log in "
           "again), or install a udev rule that gives your seat access to joysticks, as the "
           "README describes.";
}

std::string GamepadMappingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/gamecontrollerdb.txt";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/gamecontrollerdb.txt";
}

}  // namespace platform
