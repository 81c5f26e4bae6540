#include "metadata/iso_time.h"

#include <charconv>
#include <cmath>

#include "timeutil/calendar.h"

namespace {

// Reads exactly digits decimal digits at text[position] into value and moves past them.
bool ReadDigits(std::string_view text, std::size_t& position, std::size_t digits, int& value) {
    if (text.size() - position < digits)
        return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[position + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    position += digits;
    return true;
}

// Reads the character expected at text[position] and moves past it.
bool ReadChar(std::string_view text, std::size_t& position, char expected) {
    if (position >= text.size() || text[position] != expected)
        return false;
    ++position;
    return true;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

int ParseIsoTime(std::string_view text, double& epoch) {
    text = TrimBlanks(text);
    std::size_t position = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!ReadDigits(text, position, 4, year) || !ReadChar(text, position, '-') ||
        !ReadDigits(text, position, 2, month) || !ReadChar(text, position, '-') ||
        !ReadDigits(text, position, 2, day))
        return 1;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return 1;
    int hour = 0;
    int minute = 0;
    double second = 0.0;
    if (position < text.size() && text[position] == 'T') {
        ++position;
        int wholeSecond = 0;
        if (!ReadDigits(text, position, 2, hour) || !ReadChar(text, position, ':') ||
            !ReadDigits(text, position, 2, minute) || !ReadChar(text, position, ':') ||
            !ReadDigits(text, position, 2, wholeSecond))
            return 1;
        second = wholeSecond;
        if (position < text.size() && text[position] == '.') {
            // The fraction is added as a double of its own: the calendar's float second keeps
            // only a few microseconds of it.
            const std::size_t fractionStart = position;
            ++position;
            while (position < text.size() && text[position] >= '0' && text[position] <= '9')
                ++position;
            if (position == fractionStart + 1)
                return 1;
            double fraction = 0.0;
            const std::from_chars_result result =
                std::from_chars(text.data() + fractionStart, text.data() + position, fraction);
            if (result.ec != std::errc())
                return 1;
            second += fraction;
        }
        // A leap second (60) is allowed and carries into the next minute; 24:00:00 is the
        // end of the day.
        if (hour > 24 || minute > 59 || wholeSecond > 60 ||
            (hour == 24 && (minute != 0 || second != 0.0)))
            return 1;
    }
    double offset = 0.0;  // seconds east of UTC
    if (position < text.size()) {
        const char zone = text[position];
        if (zone == 'Z') {
            ++position;
        } else if (zone == '+' || zone == '-') {
            ++position;
            int offsetHours = 0;
            int offsetMinutes = 0;
            if (!ReadDigits(text, position, 2, offsetHours) || !ReadChar(text, position, ':') ||
                !ReadDigits(text, position, 2, offsetMinutes) || offsetHours > 14 ||
                offsetMinutes > 59)
                return 1;
            offset = (zone == '+' ? 1.0 : -1.0) * (offsetHours * 3600.0 + offsetMinutes * 60.0);
        }
    }
    if (position != text.size())
        return 1;
    epoch = EpochFromCalendar(year, month, day, hour, minute, 0.0f) + second - offset;
    return 0;
}
