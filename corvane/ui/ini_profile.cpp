#include "ini_profile.h"

namespace corvane {
namespace {
QString Key(const char* section, const char* key) {
    return QString::fromLatin1(section) + '/' + QString::fromLatin1(key);
}
}  // namespace

int IniProfile::ReadInt(const char* section, const char* key, int fallback) {
    bool ok = false;
    const int value = settings_.value(Key(section, key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

void IniProfile::WriteInt(const char* section, const char* key, int value) {
    settings_.setValue(Key(section, key), value);
}

bool IniProfile::Flush(QString& why) {
    settings_.sync();
    switch (settings_.status()) {
        case QSettings::NoError:
            return true;
        case QSettings::AccessError:
            why = "The settings file " + settings_.fileName() + " could not be written.";
            return false;
        case QSettings::FormatError:
            why = "The settings file " + settings_.fileName() + " is not a valid INI file.";
            return false;
    }
    return false;
}

}  // namespace corvane
