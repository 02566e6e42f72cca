// Private-profile (INI) files, one key per call: a read looks one key up; a
// write changes only its key and keeps every other line of the file as it
// was (comments, unknown sections, blank lines), creating the file and the
// section on first use. Sections and keys compare without regard to case.
// Files are UTF-8.
#pragma once

#include <optional>
#include <string>

namespace kiv {

// The value of `key` in `section`, or nullopt when either is missing.
std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key);
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path);
// The key's value read as a decimal integer; the default when it is missing
// or does not start with a number.
long GetPrivateProfileInt(const std::string& section, const std::string& key, long defaultValue,
                          const std::string& path);
// Sets the key (a null value removes it; a null key removes the section).
// False with errno set when the file cannot be written; the old file is then
// left as it was.
bool WritePrivateProfileString(const std::string& section, const char* key, const char* value,
                               const std::string& path);

}  // namespace kiv
