#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "app/settings.h"
#include "app/station_entry.h"
#include "description/image_description.h"
#include "dsp/filter_band.h"
#include "mseed/mseed_writer.h"
#include "plot/gd_image.h"
#include "plot/plot_layout.h"

class Catalogue;
struct SdsSource;

// A GIF stores each side of the image in 16 bits: the largest width or height, pixels.
constexpr int MAX_IMAGE_SIDE = 65535;

// Where the row loop sends each row's samples besides the picture, and what went wrong
// there. The run driver owns the miniSEED file; the row loop only writes to its stream.
struct RowExports {
    std::FILE* mseed = nullptr;  // the miniSEED stream; null when none is written
    MseedSettings mseedSettings;
    bool cssFailed = false;    // a CSS export failed (its writer has told the user)
    bool mseedFailed = false;  // writing miniSEED failed; the stream is not used again
};

// What the row loop leaves for the run driver: the drawn image with its layout and
// palette, the entries (alive until the image is written), and the filter band of the
// last row, which the segment-mode header shows; the exports; the notes printed on standard
// error so far, so that the rows of a drum do not repeat them; the gap colour's palette
// entry; and the description of the rows drawn.
struct PlotRows {
    GdImage image;
    PlotLayout layout;
    PlotPalette palette;
    StationList entries;
    FilterBand lastRowBand;
    RowExports exports;
    std::set<std::string> notes;
    int gapIndex = -1;             // palette entry of the gap bars; -1 when none are drawn
    ImageDescription description;  // the rows drawn, when a description is written
};

// Builds the station list for the window [windowStart, windowStart + windowLength] (epoch
// seconds, seconds): from the catalogue when traceCountText is ALL (catalogueList set
// true), else from the STA<n> sections; each entry gets its picks. Returns 0; -5 after
// printing a trace-count message; -2 after printing a message when there are more entries
// than one image can hold rows (outside segment mode); -3 after printing the query error
// when a catalogue statement failed. With sds set, the stations, their codes and picks come
// from the SDS archive and its metadata instead, and the catalogue is not asked.
int BuildStationList(const Settings& settings, Catalogue& catalogue, const SdsSource* sds,
                     double windowStart, int windowLength, StationList& entries,
                     bool& catalogueList);

// Checks that a plot of rowCount rows fits one image at the run's image size and labels:
// each side at most MAX_IMAGE_SIDE pixels and a pixel count gd can hold. Returns 0; -2 after
// printing "Too many rows" when even rows of the minimum height do not fit, or "Invalid image
// size" when the requested height makes the image too large.
int CheckImageFits(const Settings& settings, int rowCount, bool catalogueList);

// Prints on standard error that the run's miniSEED file cannot be written.
void PrintMseedWriteError(const Settings& settings);

// Orders entries by first-pick time, ascending and stable: entries without picks first.
void SortStationEntries(StationList& entries);

// Lists the stations, creates the image and draws every row: samples, CSS export when
// asked, labels and phase marks. In segment mode it shortens windowSeconds to whole
// segments. Returns 0; -5 after printing a trace-count message; -2 after printing a
// message when the image cannot be created; -3 after printing the query error when a
// catalogue statement failed. With sds set, every row is read from that SDS archive.
int RunRows(Settings& settings, Catalogue& catalogue, const SdsSource* sds, double windowStart,
            int windowLength, PlotRows& rows);
