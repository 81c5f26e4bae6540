#pragma once

#include <cstddef>
#include <string>

// Returns the directory that holds the system-wide configuration: the value of WINDIR when
// it is set and not empty, else /etc.
std::string WindowsDirectory();

// Reads one value from an INI (profile) file. Sections and keys match without regard to
// case and the first occurrence wins; white space around the value and one pair of
// enclosing quotes are dropped; the result is cut to capacity characters. A missing file,
// section or key gives defaultValue (also cut); a key present with an empty value gives
// the empty text. A file name without a directory part names a file in WindowsDirectory();
// any other path goes through MapHostPath.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t capacity,
                              const std::string& filePath);

// Reads one value from INI text held in memory (a file's bytes), by the rules of
// ReadProfileString.
std::string ReadProfileStringFromText(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, std::size_t capacity,
                                      const std::string& text);
