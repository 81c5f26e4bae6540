#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "dsp/coverage.h"
#include "dsp/filter_band.h"

// What one picture shows, as the run drew it: the record the run driver fills row by row and
// writes beside the image as JSON. Times are epoch seconds, pixels gd's coordinates.

struct DescribedPick {
    std::string phase;
    double time = 0.0;
    int x = 0;  // pixel column of the mark
};

struct DescribedRow {
    int number = 0;  // 0 for the top row
    std::string station;
    std::string channel;
    bool hasStreamCodes = false;  // network and location are known (an SDS archive's row)
    std::string network;
    std::string location;  // "" for the empty location code
    int bandTop = 0;       // first pixel row of the band
    int bandHeight = 0;    // pixel rows of the band
    double start = 0.0;
    double end = 0.0;
    FilterBand filter;          // the row's band; null in the description when not enabled
    bool commonScale = false;   // the scale is the one common to every automatic row
    std::string filterApplied;  // "bandpass", "highpass" (half-rate fallback) or "none"
    double prerollSeconds = 0.0;
    bool autoScale = true;
    float scaleMin = 0.0f;            // the range mapped onto the band's top row
    float scaleMax = 0.0f;            // the range mapped onto the band's bottom row
    std::vector<double> sampleRates;  // every rate met, in the order met
    double completeness = 0.0;        // 0 .. 1
    std::vector<TimeSpan> gaps;
    std::vector<DescribedPick> picks;  // the marks drawn
    bool hasDistance = false;
    double distanceKm = 0.0;
};

struct ImageDescription {
    std::string imageFile;  // the image's file name, without its folder
    std::string format;     // "gif" or "png"
    int width = 0;
    int height = 0;
    double windowStart = 0.0;
    double windowEnd = 0.0;
    int windowSeconds = 0;
    bool segmentMode = false;
    int segmentSeconds = 0;  // in segment mode
    bool eventKnown = false;
    std::string eventId;
    std::string eventOrid;
    double eventOriginTime = 0.0;
    double eventLatitude = 0.0;   // degrees
    double eventLongitude = 0.0;  // degrees
    std::vector<DescribedRow> rows;
};

// Writes the description as one JSON document (see docs/description.md) to stream. Returns
// true when it was written without a stream error.
bool WriteImageDescription(std::FILE* stream, const ImageDescription& description);

// Formats epoch seconds as ISO 8601 UTC with milliseconds: "2004-03-02T10:00:00.000Z".
std::string IsoTime(double epoch);

// Returns true when IsoTime writes the instant (epoch seconds) with a four-digit year, from
// 0001-01-01T00:00:00.000Z to 9999-12-31T23:59:59.999Z, as every time of a description is
// written.
bool IsWritableTime(double epoch);
