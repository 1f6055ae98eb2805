// The settings file "System.ini" beside the program: one key, section
// "System", key "FilePath", the profile loaded at start-up.
#pragma once

#include <string>

namespace vlx {

inline constexpr const char* SettingsFileName = "System.ini";
inline constexpr const char* SettingsSection = "System";
inline constexpr const char* SettingsKey = "FilePath";
inline constexpr const char* DefaultProfileName = "customer.cus";

// The value of key in section, or def when the file, the section or the key
// is missing. Sections and keys compare without regard to case; the value is
// trimmed (and loses one pair of enclosing quotes).
std::string ReadIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                          const std::string& def = {});

// Sets key in section, creating the file or the section when needed and
// leaving other sections and keys as they are. The file is replaced
// atomically. Throws EVlxError "Unable to write to <iniPath>".
void WriteIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                    const std::string& value);

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();

}  // namespace vlx
