#pragma once

#include <QSettings>
#include <memory>

#include "settings.h"

namespace corvane {

// The profile as an INI file in the user's configuration folder, named after the program
// (~/.config/Corvane/Corvane.ini on Linux). Something in its place that is not a regular file,
// or a file far larger than any profile, is neither read nor written: the defaults stand for
// this run and Problem() says why.
class IniProfile final : public Profile {
  public:
    IniProfile();
    explicit IniProfile(const QString& path);

    int ReadInt(const char* section, const char* key, int fallback) override;
    void WriteInt(const char* section, const char* key, int value) override;
    std::string ReadText(const char* section, const char* key,
                         const std::string& fallback) override;
    void WriteText(const char* section, const char* key, const std::string& value) override;
    // Writes to disk; false with the reason when that failed.
    bool Flush(QString& why);
    // Why the file was not used, or empty.
    const QString& Problem() const { return problem_; }

    static constexpr std::size_t kMaxFileSize = 1024 * 1024;

  private:
    QString path_;
    QString problem_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace corvane
