#pragma once

#include <cstddef>
#include <string>
#include <utility>

// Returns text with the letters a-z turned into A-Z; every other byte stays as it is.
std::string UpperCase(const std::string& text);

// Returns true when text begins with prefix.
bool StartsWith(const std::string& text, const std::string& prefix);

// Returns text cut to at most capacity characters.
std::string CutToCapacity(const std::string& text, std::size_t capacity);

// Returns text cut to at most capacity bytes, shortened further to the start of the UTF-8
// character the cut would split; text of at most capacity bytes is returned whole.
std::string CutToCharacters(const std::string& text, std::size_t capacity);

// Reads the leading decimal integer of text: white space is skipped, then an optional sign
// and the digits up to the first other character. A text without digits reads as 0; values
// beyond the range of int are clamped to it.
int LeadingInteger(const std::string& text);

// Reads numbers and separators from the front of a text in the manner of a scanf pattern:
// every number may be preceded by white space, a separator is one or more characters of a
// given set. Each call consumes only on success.
class TextScanner {
public:
    explicit TextScanner(std::string scannedText) : text(std::move(scannedText)) {}

    // Reads an optional sign and decimal digits (clamped to the range of int). Returns false
    // when no digit follows.
    bool ReadInt(int& value);
    // Reads a decimal number with optional sign, fraction and exponent ("12", "-0.5",
    // "5.", ".25", "1e3"). Returns false when no digit follows or the value is not finite.
    bool ReadFloat(float& value);
    // Skips one or more characters of set. Returns false when the next character is not
    // one of them.
    bool SkipAnyOf(const char* set);

private:
    std::size_t SkipSpace() const;

    std::string text;
    std::size_t pos = 0;
};
