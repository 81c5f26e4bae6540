// Fuzzes the profile (INI) reader, on the text in memory and on the file, and the settings read
// through it. The input is the run's INI file, byte for byte; the Windows directory is an empty
// folder, so the system-wide KVR.ini is absent and its defaults apply.

#include <stdlib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/exit_status.h"
#include "app/profile_settings.h"
#include "app/settings.h"
#include "dsp/filter_band.h"
#include "platform/profile.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Large enough that no value of a fuzz input is ever cut.
constexpr std::size_t WHOLE_VALUE = 1 << 20;

bool HasLowerCaseLetter(const std::string& text) {
    for (char c : text) {
        if (c >= 'a' && c <= 'z')
            return true;
    }
    return false;
}

void CheckBand(const FilterBand& band) {
    FUZZ_CHECK(band.order == 3);
    if (band.enabled) {
        FUZZ_CHECK(std::isfinite(band.low) && std::isfinite(band.high));
        FUZZ_CHECK(band.low >= 0.0f && band.low < band.high);
    }
}

// The phase condition goes into the pick query as it is: it must be empty or a list of
// complete SQL string literals, " and iphase in ('P', 'S')", whatever the INI file holds.
bool IsWellFormedPhaseClause(const std::string& clause) {
    if (clause.empty())
        return true;
    const std::string opening = " and iphase in ('";
    if (clause.compare(0, opening.size(), opening) != 0)
        return false;
    std::size_t at = opening.size();
    for (;;) {
        while (at < clause.size()) {
            if (clause[at] == '\'') {
                if (at + 1 < clause.size() && clause[at + 1] == '\'') {
                    at += 2;
                    continue;
                }
                break;
            }
            ++at;
        }
        if (at >= clause.size())
            return false;
        if (clause.compare(at, 4, "', '") == 0) {
            at += 4;
            continue;
        }
        return clause.compare(at, std::string::npos, "')") == 0;
    }
}

// Reads one section and key with several capacities and defaults from the text in memory and
// checks that they agree, and that the file holding the same bytes reads the same.
void CheckProfileRead(const std::string& section, const std::string& key, const std::string& text,
                      const std::string& file) {
    const std::string whole = ReadProfileStringFromText(section, key,
                                                        "\x01"
                                                        "A",
                                                        WHOLE_VALUE, text);
    const std::string other = ReadProfileStringFromText(section, key,
                                                        "\x01"
                                                        "B",
                                                        WHOLE_VALUE, text);
    // Either the key is present (both reads give its value) or both give their default.
    FUZZ_CHECK(whole == other || (whole == "\x01"
                                           "A" &&
                                  other == "\x01"
                                           "B"));
    for (std::size_t capacity : {std::size_t{1}, CODE_CAPACITY}) {
        const std::string cut = ReadProfileStringFromText(section, key,
                                                          "\x01"
                                                          "A",
                                                          capacity, text);
        FUZZ_CHECK(cut.size() <= capacity);
        FUZZ_CHECK(whole.compare(0, cut.size(), cut) == 0);
        FUZZ_CHECK(cut.size() == capacity || cut == whole);
    }
    FUZZ_CHECK(ReadProfileString(section, key,
                                 "\x01"
                                 "A",
                                 WHOLE_VALUE, file) == whole);
}

// Takes a section name (between the first '[' and the next ']') and a key (before the first
// '=' after it) from the input, so that names the fixed lists miss are looked up too.
void NamesFromInput(const std::string& input, std::string& section, std::string& key) {
    const std::size_t open = input.find('[');
    if (open == std::string::npos)
        return;
    const std::size_t close = input.find(']', open);
    if (close == std::string::npos)
        return;
    section = input.substr(open + 1, close - open - 1);
    const std::size_t lineStart = input.find('\n', close);
    if (lineStart == std::string::npos)
        return;
    const std::size_t equals = input.find('=', lineStart);
    if (equals != std::string::npos)
        key = input.substr(lineStart + 1, equals - lineStart - 1);
}

void CheckLoadedSettings(Settings& settings, const std::string& extraSection) {
    const int status = LoadProfileSettings(settings);
    FUZZ_CHECK(status == STATUS_OK || status == STATUS_WINDOW_SETTINGS);
    FUZZ_CHECK(!settings.dataDir.empty() && settings.dataDir.back() == '\\');
    FUZZ_CHECK(settings.dataDir.size() <= DATA_DIR_CAPACITY + 1);
    // The system file is absent, so its built-in login applies to whatever the run's file
    // leaves empty.
    for (const std::string* login : {&settings.dsn, &settings.dbUser, &settings.dbPassword})
        FUZZ_CHECK(!login->empty() && login->size() <= LOGIN_CAPACITY);
    if (status != STATUS_OK)
        return;
    FUZZ_CHECK(settings.windowSeconds != 0 && settings.segmentSeconds >= 0);
    FUZZ_CHECK(settings.outputFile.size() <= OUTPUT_FILE_CAPACITY);
    FUZZ_CHECK(settings.cssFile.size() <= CSS_FILE_CAPACITY);

    LoadDisplaySettings(settings);
    FUZZ_CHECK(settings.defaultScale.size() <= 31);
    FUZZ_CHECK(settings.traceCountText.size() <= 63);
    FUZZ_CHECK(!HasLowerCaseLetter(settings.traceCountText));
    FUZZ_CHECK(IsWellFormedPhaseClause(settings.phaseClause));
    CheckBand(settings.defaultFilter);
    (void)TraceCountFromText(settings.traceCountText);

    for (int n = 0; n < 3; ++n) {
        std::string station;
        std::string channel;
        ReadStationEntry(settings, n, station, channel);
        FUZZ_CHECK(station.size() <= CODE_CAPACITY && channel.size() <= CODE_CAPACITY);
    }
    for (const std::string& section : {std::string("STA0"), std::string("sta1"), extraSection}) {
        FilterBand band;
        std::string scaleText;
        ReadRowSettings(section, settings, band, scaleText);
        CheckBand(band);
        // A row cannot switch the file-wide filter off.
        FUZZ_CHECK(band.enabled || !settings.defaultFilter.enabled);
        FUZZ_CHECK(scaleText.size() <= 31 && !HasLowerCaseLetter(scaleText));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    setenv("WINDIR", fuzz::ScratchSubfolder("windows").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string iniPath = fuzz::ScratchFolder() + "/run.ini";
    if (!fuzz::WriteBytes(iniPath, data, size))
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string extraSection = "STA2";
    std::string extraKey = "STA";
    NamesFromInput(input, extraSection, extraKey);
    CheckProfileRead(extraSection, extraKey, input, iniPath);
    CheckProfileRead("waveforms", "Nsec", input, iniPath);

    // The settings are read from the file by path alone. Each input loads them one way, the
    // input's length choosing which: a load reads some sixty keys, and both loads for every
    // input would halve the inputs tried.
    if (size % 2 == 0) {
        // Nothing given on the command line: every key is read.
        Settings fromFile;
        fromFile.iniFile = iniPath;
        fromFile.systemIniFile = SystemIniFilePath();
        CheckLoadedSettings(fromFile, extraSection);
    } else {
        // Window, data folder and login given as arguments, CSS export on.
        Settings withArguments;
        withArguments.iniFile = iniPath;
        withArguments.systemIniFile = SystemIniFilePath();
        withArguments.windowSeconds = 900;
        withArguments.dataDir = "D:\\LOOP";
        withArguments.dsn = "ARGDSN";
        withArguments.cssEnabled = true;
        CheckLoadedSettings(withArguments, extraSection);
        FUZZ_CHECK(withArguments.windowSeconds == 900 && withArguments.dsn == "ARGDSN");
        FUZZ_CHECK(withArguments.dataDir == "D:\\LOOP\\");
    }

    CheckBand(ParseFilterBand(input));
    (void)ParseRgbTriple(input);
    return 0;
}
