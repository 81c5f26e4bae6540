#include "app/text_scan.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

int ClampToInt(long value) {
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    // Only a-z: the arguments are 8-bit texts in no particular code page.
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string CutToCapacity(const std::string& text, std::size_t capacity) {
    return text.size() > capacity ? text.substr(0, capacity) : text;
}

std::string CutToCharacters(const std::string& text, std::size_t capacity) {
    if (text.size() <= capacity)
        return text;
    // Continuation bytes are 10xxxxxx: the cut moves back over them to a character's start.
    std::size_t length = capacity;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return text.substr(0, length);
}

int LeadingInteger(const std::string& text) {
    int value = 0;
    TextScanner scanner(text);
    return scanner.ReadInt(value) ? value : 0;
}

std::size_t TextScanner::SkipSpace() const {
    std::size_t at = pos;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
    return at;
}

bool TextScanner::ReadInt(int& value) {
    std::size_t at = SkipSpace();
    const std::size_t start = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    if (at >= text.size() || !IsDigit(text[at]))
        return false;
    // strtol saturates at the range of long on overflow, which ClampToInt narrows further.
    char* end = nullptr;
    const long number = std::strtol(text.c_str() + start, &end, 10);
    value = ClampToInt(number);
    pos = static_cast<std::size_t>(end - text.c_str());
    return true;
}

bool TextScanner::ReadFloat(float& value) {
    std::size_t at = SkipSpace();
    const std::size_t start = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    std::size_t digits = 0;
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
        ++digits;
    }
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && IsDigit(text[at])) {
            ++at;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (exponent < text.size() && IsDigit(text[exponent])) {
            while (exponent < text.size() && IsDigit(text[exponent])) ++exponent;
            at = exponent;
        }
    }
    // Only the characters checked above go to strtof, so "inf", "nan" and hexadecimal
    // forms never reach it.
    const std::string number = text.substr(start, at - start);
    const float converted = std::strtof(number.c_str(), nullptr);
    if (!std::isfinite(converted))
        return false;
    value = converted;
    pos = at;
    return true;
}

bool TextScanner::SkipAnyOf(const char* set) {
    std::size_t at = pos;
    while (at < text.size() && text[at] != '\0' && std::strchr(set, text[at]) != nullptr) ++at;
    if (at == pos)
        return false;
    pos = at;
    return true;
}
