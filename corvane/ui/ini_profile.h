#pragma once

#include <QSettings>

#include "settings.h"

namespace corvane {

// The profile as an INI file in the user's configuration folder, named after the program
// (~/.config/Corvane/Corvane.ini on Linux).
class IniProfile final : public Profile {
  public:
    IniProfile() : settings_(QSettings::IniFormat, QSettings::UserScope, "Corvane", "Corvane") {}
    explicit IniProfile(const QString& path) : settings_(path, QSettings::IniFormat) {}

    int ReadInt(const char* section, const char* key, int fallback) override;
    void WriteInt(const char* section, const char* key, int value) override;
    // Writes to disk; false with the reason when that failed.
    bool Flush(QString& why);

  private:
    QSettings settings_;
};

}  // namespace corvane
