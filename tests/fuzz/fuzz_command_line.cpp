// Fuzzes the argument parser and the start-text reader. The input is split at NUL and line
// feed bytes into an argument list (the first piece standing for the program's path); the
// raw input is also read as a start text.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "tests/fuzz/fuzz_support.h"
#include "timeutil/calendar.h"

namespace {

bool HasLowerCaseLetter(const std::string& text) {
    for (char c : text) {
        if (c >= 'a' && c <= 'z')
            return true;
    }
    return false;
}

bool Contains(const std::string& text, char c) { return text.find(c) != std::string::npos; }

bool HasQuote(const std::string& text) { return Contains(text, '\'') || Contains(text, '"'); }

// Checks what holds for every value the parser takes from an upper-cased argument.
void CheckArgumentValue(const std::string& value, std::size_t capacity, bool doubleQuotesKept) {
    FUZZ_CHECK(value.size() <= capacity);
    FUZZ_CHECK(!HasLowerCaseLetter(value));
    FUZZ_CHECK(!Contains(value, '\''));
    FUZZ_CHECK(doubleQuotesKept || !Contains(value, '"'));
}

void CheckStartText(const std::string& text) {
    int hour = 0;
    int minute = 0;
    float second = 0.0f;
    int day = 0;
    int month = 0;
    int year = 0;
    const int read = ParseStartText(text, hour, minute, second, day, month, year);
    FUZZ_CHECK(read == 0 || read == 1);
    const int valid = IsValidStartText(text);
    FUZZ_CHECK(valid == 0 || valid == 1);
    if (read == 1) {
        // The run turns the fields into a time: a second that is not a finite number would
        // make every later time NaN.
        FUZZ_CHECK(std::isfinite(second));
        // A valid text has a month of the year and a time that a calendar can show.
        const bool monthOk = month >= 1 && month <= 12;
        const bool inCalendar =
            monthOk &&
            CalendarOf(EpochFromCalendar(year, month, day, hour, minute, second)).year != 0;
        FUZZ_CHECK(valid == (inCalendar ? 1 : 0));
    } else {
        FUZZ_CHECK(valid == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> arguments(1);
    for (char c : input) {
        if (c == '\0' || c == '\n')
            arguments.emplace_back();
        else
            arguments.back() += c;
    }
    // argv as the system hands it over: writable texts followed by a null pointer.
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    Settings settings;
    const bool mayStart =
        ParseCommandLine(static_cast<int>(arguments.size()), argv.data(), settings);
    if (!mayStart)
        PrintUsage();

    CheckArgumentValue(settings.startText, START_TEXT_CAPACITY, true);
    CheckArgumentValue(settings.eventId, EVENT_ID_CAPACITY, false);
    CheckArgumentValue(settings.cssFile, CSS_FILE_CAPACITY, false);
    CheckArgumentValue(settings.dataDir, DATA_DIR_CAPACITY, false);
    CheckArgumentValue(settings.dsn, LOGIN_CAPACITY, false);
    CheckArgumentValue(settings.dbUser, LOGIN_CAPACITY, false);
    CheckArgumentValue(settings.dbPassword, LOGIN_CAPACITY, false);
    FUZZ_CHECK(!HasLowerCaseLetter(settings.outputFile) && !HasQuote(settings.outputFile));
    if (settings.iniFile != Settings().iniFile)
        FUZZ_CHECK(!HasLowerCaseLetter(settings.iniFile) && !HasQuote(settings.iniFile));
    FUZZ_CHECK(settings.cssFile.empty() || settings.cssEnabled);

    const bool hasStart = !settings.startText.empty() || !settings.eventId.empty();
    const bool eventWithCurrent =
        !settings.eventId.empty() && settings.startText.compare(0, 7, "CURRENT") == 0;
    FUZZ_CHECK(mayStart == (hasStart && !eventWithCurrent));

    CheckStartText(input);
    CheckStartText(settings.startText);
    return 0;
}
