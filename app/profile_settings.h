#pragma once

#include <optional>
#include <string>

#include "app/settings.h"
#include "dsp/filter_band.h"
#include "plot/rgb_triple.h"

// Returns the path of the system-wide configuration file: KVR.ini in the Windows directory.
std::string SystemIniFilePath();

// Fills what the arguments left open from the run's INI file (settings.iniFile) and the
// system-wide file (settings.systemIniFile): data directory (always ending in a backslash),
// data source, user and password, window and segment length, then the wfdisc file (only
// with CSS export on), the output file, the three colours and the opt-in gap colour, GAPS
// and JSON switches, and the web page's settings. A gap colour, GAPS, JSON or REFRESH value
// in none of their forms is ignored with a line on standard error, keeping the default;
// titles and file names are cut only where a UTF-8 character begins. Returns 0; or -2 after
// printing a message when the window is 0 or the segment length negative, in which case
// nothing after the window has been read.
int LoadProfileSettings(Settings& settings);

// Reads section WAVEFORMS of the run's file: SCALE into defaultScale, "filter" into
// defaultFilter, PREROLL into defaultPreroll, FILL into defaultFill, ROWTIMES into rowTimes,
// COMMONSCALE into commonScale, PHASES into phaseClause (as a pick-query condition) and "N#"
// into traceCountText (upper-cased). A PREROLL that is not a number of seconds from 0 to a
// day, or a FILL, ROWTIMES or COMMONSCALE other than 0 or 1, is ignored with a line on
// standard error.
void LoadDisplaySettings(Settings& settings);

// Returns the trace count text ("N#" of section WAVEFORMS, default "0") in upper case, as
// LoadDisplaySettings stores it in traceCountText.
std::string ReadTraceCountText(const Settings& settings);

// Reads station and channel codes of list entry n from section STA<n> of the run's file
// (keys STA, default empty, and CH, default "BHZ").
void ReadStationEntry(const Settings& settings, int n, std::string& station, std::string& channel);

// Reads the network and location codes of list entry n of an SDS run from section STA<n>
// (keys NET and LOC); a key that is absent leaves its code unset, for the archive to tell.
void ReadStreamCodes(const Settings& settings, int n, std::optional<std::string>& network,
                     std::optional<std::string>& location);

// Reads the settings of one row from section of the run's file: its "filter" band, which
// falls back to defaultFilter when it is not enabled, and its SCALE text, which falls back
// to defaultScale; the scale text is upper-cased.
void ReadRowSettings(const std::string& section, const Settings& settings, FilterBand& band,
                     std::string& scaleText);

// The longest pre-roll, seconds: a day.
constexpr double MAX_PREROLL = 86400.0;

// Reads the pre-roll of one row (seconds) from the PREROLL key of section of the run's file,
// falling back to defaultPreroll when there is none or it is not a number of seconds from 0
// to a day. Returns the line for standard error that says the row's value is ignored, or an
// empty text.
std::string ReadRowPreroll(const std::string& section, const Settings& settings, double& preroll);

// Reads whether one row draws the samples the reader fills in where no file holds any (a
// missing or short file, samples carrying the missing-sample marker) from the FILL key of
// section of the run's file: 1 draws them (zeros, as read), 0 leaves them out; falling back
// to defaultFill when there is no key or its value is neither. Returns the line for standard
// error that says the row's value is ignored, or an empty text.
std::string ReadRowFill(const std::string& section, const Settings& settings, bool& fill);

// Reads a pre-roll text: a decimal number of seconds from 0 to MAX_PREROLL, with optional
// white space around it. Returns false (seconds unchanged) for anything else.
bool ParsePreroll(const std::string& text, double& seconds);

// Reads "low,high" (corners in Hz, one or more commas between them) into an order-3 band,
// enabled when both corners are non-negative and low < high. A text from which two numbers
// cannot be read gives a disabled band with corners 0.
FilterBand ParseFilterBand(const std::string& text);

// The gap colour when COLORGAP= is absent or ignored.
constexpr const char* DEFAULT_GAP_COLOUR = "160,160,160";
// Seconds after which the web page reloads itself when REFRESH= is absent or ignored.
constexpr int DEFAULT_REFRESH = 300;

// Reads a colour of ours, "red,green,blue": three decimal numbers from 0 to 255, separated by
// single commas, white space allowed around each. Returns false (colour unchanged) for
// anything else.
bool ParseColourValue(const std::string& text, RgbTriple& colour);

// Reads a REFRESH text: decimal digits only, a number of seconds from 0 to INT_MAX. Returns
// false (seconds unchanged) for anything else.
bool ParseRefresh(const std::string& text, int& seconds);

// Reads "red,green,blue" (one or more commas between the numbers). Reading stops at the
// first mismatch; components not read stay 0. No range check.
RgbTriple ParseRgbTriple(const std::string& text);

// Returns the number of list entries that traceCountText (upper case, not ALL) names: its
// leading integer; 0 for texts beginning with LAST or FIRS, which name no count.
int TraceCountFromText(const std::string& traceCountText);
