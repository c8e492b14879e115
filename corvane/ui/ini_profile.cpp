#include "ini_profile.h"

#include <QStandardPaths>
#include <cerrno>
#include <vector>

#include "platform/file_io.h"

namespace corvane {
namespace {
QString Key(const char* section, const char* key) {
    return QString::fromLatin1(section) + '/' + QString::fromLatin1(key);
}
}  // namespace

IniProfile::IniProfile()
    : IniProfile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 "/Corvane/Corvane.ini") {}

IniProfile::IniProfile(const QString& path) : path_(path) {
    // QSettings would block for good on a FIFO and read any size: look first, without blocking.
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    if (!platform::ReadWholeFile(path.toStdString(), bytes, cause, kMaxFileSize) &&
        cause != ENOENT) {
        problem_ = "The settings file " + path + " was not read (" +
                   QString::fromStdString(platform::ReadFailureText(cause, kMaxFileSize)) +
                   "). Corvane starts with its default settings and leaves that file as it is.";
        return;
    }
    settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

int IniProfile::ReadInt(const char* section, const char* key, int fallback) {
    if (!settings_) {
        return fallback;
    }
    bool ok = false;
    const int value = settings_->value(Key(section, key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

void IniProfile::WriteInt(const char* section, const char* key, int value) {
    if (settings_) {
        settings_->setValue(Key(section, key), value);
    }
}

std::string IniProfile::ReadText(const char* section, const char* key,
                                 const std::string& fallback) {
    if (!settings_) {
        return fallback;
    }
    return settings_->value(Key(section, key), QString::fromStdString(fallback))
        .toString()
        .toStdString();
}

void IniProfile::WriteText(const char* section, const char* key, const std::string& value) {
    if (settings_) {
        settings_->setValue(Key(section, key), QString::fromStdString(value));
    }
}

bool IniProfile::Flush(QString& why) {
    if (!settings_) {
        why = problem_;
        return false;
    }
    settings_->sync();
    switch (settings_->status()) {
        case QSettings::NoError:
            return true;
        case QSettings::AccessError:
            why = "The settings file " + path_ + " could not be written.";
            return false;
        case QSettings::FormatError:
            why = "The settings file " + path_ + " is not a valid INI file.";
            return false;
    }
    return false;
}

}  // namespace corvane
