#include "app/rows.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/exit_status.h"
#include "app/profile_settings.h"
#include "app/query_failure.h"
#include "app/read_ahead.h"
#include "app/row_filter_queue.h"
#include "app/sds_source.h"
#include "archive/catalogue.h"
#include "archive/trace_reader.h"
#include "css/wfdisc_writer.h"
#include "description/image_description.h"
#include "dsp/coverage.h"
#include "dsp/filter.h"
#include "dsp/row_samples.h"
#include "dsp/trace.h"
#include "platform/host_path.h"
#include "platform/memory.h"
#include "plot/annotations.h"
#include "plot/trace_drawing.h"
#include "sds/sds_reader.h"

namespace {

// CSS export always writes big-endian 32-bit integers ("s4").
const int CSS_SELECTOR_S4 = 2;

int PrintTooManyRows(int rowCount) {
    std::printf("Too many rows (%d) for one image!\n", rowCount);
    return STATUS_WINDOW_SETTINGS;
}

// True when gd can create the layout's image and a GIF can hold it.
bool LayoutFits(const PlotLayout& layout) {
    return layout.height >= 1 && layout.height <= MAX_IMAGE_SIDE &&
           static_cast<long long>(layout.width) * layout.height <= INT_MAX;
}

int PrintTooFewTraces(const Settings& settings) {
    std::printf("Missing number of trace (<=0)! in INI (%s)\n", settings.iniFile.c_str());
    return STATUS_TRACE_COUNT;
}

// Returns the samples of the longest run at the rate that the row's filter takes as one
// recursion: a segment alone, or when joined, contiguous segments of the rate (each starting
// within half a sample interval of the previous one's end) together; at least carriedSeconds,
// the span of a drum whose rows go on with each other's filter.
long long LongestFilteredRun(const Trace& trace, double rate, bool joined, double carriedSeconds) {
    long long longest = 0;
    long long run = 0;
    const SampleVector* previous = nullptr;
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const SampleVector& segment = trace.SegmentAt(i);
        if (segment.sampleRate != rate || segment.samples == nullptr || segment.sampleCount <= 0)
            continue;
        const bool continues = joined && previous != nullptr &&
                               previous == &trace.SegmentAt(i - 1) &&
                               std::fabs(segment.startTime - previous->EndTime()) <= 0.5 / rate;
        run = (continues ? run : 0) + segment.sampleCount;
        longest = std::max(longest, run);
        previous = &segment;
    }
    return std::max(longest, std::llround(carriedSeconds * rate));
}

// Tells on standard error, once per station, channel, band and rate in a run, when the row's
// band is not what its segments at that rate are filtered with: a band reaching half the
// sampling rate becomes a high-pass, and a band whose filter would grow without bound is
// not applied, judged over the longest run the row filters as one (joined: through its
// segments' joins). The row's label still names the band as configured.
void ReportFilterChanges(const StationEntry& entry, const FilterBand& band, const Trace& trace,
                         bool joined, double carriedSeconds, std::set<std::string>& reported) {
    if (!band.enabled)
        return;
    double checkedRate = 0.0;
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const double rate = trace.SegmentAt(i).sampleRate;
        if (!(rate > 0.0) || !std::isfinite(rate) || rate == checkedRate)
            continue;
        checkedRate = rate;
        const FilterOutcome outcome =
            CheckFilter(1.0 / rate, 0, band.order, band.low, band.high,
                        LongestFilteredRun(trace, rate, joined, carriedSeconds));
        const char* instead = nullptr;
        // The row's filter is always a band-pass, so a band-reject's low-pass never occurs.
        switch (outcome) {
            case FilterOutcome::HIGH_PASS:
                instead =
                    "reaches half the sampling rate: filtered as a high-pass from its low "
                    "corner";
                break;
            case FilterOutcome::UNBOUNDED:
                instead = "would grow without bound: left unfiltered";
                break;
            case FilterOutcome::NO_CORNER:
                instead = "has no corner below half the sampling rate: left unfiltered";
                break;
            default:
                continue;
        }
        char note[256];
        std::snprintf(note, sizeof note, "%s %s: filter %.7g-%.7g Hz at %.7g samples per second %s",
                      entry.station.c_str(), entry.channel.c_str(), band.low, band.high, rate,
                      instead);
        if (reported.insert(note).second)
            std::fprintf(stderr, "%s\n", note);
    }
}

// Writes the row's samples to the miniSEED stream, when there is one that has not failed. A row
// of an SDS archive keeps its network and location codes, unless the INI file sets them.
void ExportMseed(const Settings& settings, const StationEntry& entry, const Trace& trace,
                 PlotRows& rows) {
    RowExports& exports = rows.exports;
    if (exports.mseed == nullptr || exports.mseedFailed)
        return;
    MseedSettings codes = exports.mseedSettings;
    if (entry.hasStreamCodes && !settings.mseedNetworkSet)
        codes.network = entry.network;
    if (entry.hasStreamCodes && !settings.mseedLocationSet)
        codes.location = entry.location;
    switch (WriteMseedTrace(exports.mseed, trace, codes)) {
        case MseedResult::WRITTEN:
            break;
        case MseedResult::CODES_TOO_LONG: {
            const std::string note = trace.station + " " + trace.channel +
                                     ": a station code of more than 5 or a channel code of more "
                                     "than 3 characters: left out of the miniSEED file";
            if (rows.notes.insert(note).second)
                std::fprintf(stderr, "%s\n", note.c_str());
            break;
        }
        case MseedResult::WRITE_FAILED:
            exports.mseedFailed = true;
            PrintMseedWriteError(settings);
            break;
    }
}

// Hands the row's samples, as read for its window, to the exports that are on. A CSS export
// that failed once is not tried again: its writer has told the user, and on a full disk every
// further row would only fail (and tell) again.
void ExportRow(const Settings& settings, const StationEntry& entry, const Trace& trace,
               PlotRows& rows) {
    if (settings.cssEnabled && !rows.exports.cssFailed && trace.SegmentCount() > 0 &&
        !WriteWfdisc(settings.cssFile, {&trace}, CSS_SELECTOR_S4))
        rows.exports.cssFailed = true;
    if (trace.SegmentCount() > 0)
        ExportMseed(settings, entry, trace, rows);
}

// Returns what the row's filter does to its samples, judged at the first rate met:
// "bandpass" as configured, "highpass" for the half-rate fallback, "none" when the band is
// off, refused, or there are no samples to filter; judged as ReportFilterChanges judges.
std::string AppliedFilter(const FilterBand& band, const Trace& trace, bool joined,
                          double carriedSeconds) {
    if (!band.enabled)
        return "none";
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const double rate = trace.SegmentAt(i).sampleRate;
        if (!(rate > 0.0) || !std::isfinite(rate))
            continue;
        switch (CheckFilter(1.0 / rate, 0, band.order, band.low, band.high,
                            LongestFilteredRun(trace, rate, joined, carriedSeconds))) {
            case FilterOutcome::AS_ASKED:
                return "bandpass";
            case FilterOutcome::HIGH_PASS:
                return "highpass";
            default:
                return "none";
        }
    }
    return "none";
}

// Returns every sample rate of the trace's segments, in the order met.
std::vector<double> SampleRates(const Trace& trace) {
    std::vector<double> rates;
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const double rate = trace.SegmentAt(i).sampleRate;
        if (std::find(rates.begin(), rates.end(), rate) == rates.end())
            rates.push_back(rate);
    }
    return rates;
}

// Adds the picks DrawPhaseMarks marks in the row, with their columns, and the distance of the
// latest of them, to the row's description.
void DescribePicks(const PlotLayout& layout, double rowStart, double rowEnd, const PickList& picks,
                   DescribedRow& described) {
    double latest = -1.0;
    for (const Pick& pick : picks) {
        if (!(rowStart <= pick.time && pick.time <= rowEnd))
            continue;
        described.picks.push_back(
            {pick.phase, pick.time, PickColumn(layout, rowStart, rowEnd, pick.time)});
        if (pick.time > latest) {
            latest = pick.time;
            described.hasDistance = true;
            described.distanceKm = pick.distance * 111.0;
        }
    }
}

// What one row shows and reads, settled before its samples are read.
struct RowPlan {
    int row = 0;
    const StationEntry* entry = nullptr;
    double start = 0.0;  // epoch seconds of the row's window
    double end = 0.0;
    FilterBand band;
    std::string scaleText;
    double preroll = 0.0;            // seconds read before the window and filtered through
    std::string prerollNote;         // an ignored PREROLL, to tell once the row is drawn
    bool fill = true;                // the samples no file holds are drawn as the reader fills them
    std::string fillNote;            // an ignored FILL, to tell once the row is drawn
    bool joined = false;             // filtered through its files with a pre-roll
    bool carried = false;            // a drum's row, whose filter goes on from the row before
    double carriedSeconds = 0.0;     // a carried row's runs may last this long: the whole drum
    bool exporting = false;          // the window's samples as read go to the exports
    double readStart = 0.0;          // epoch seconds from which the row is read
    bool filteredWhileRead = false;  // the read comes filtered, as PrepareRowSamples would
};

RowPlan PlanRow(const Settings& settings, const PlotRows& rows, int row, double windowStart,
                int windowLength) {
    RowPlan plan;
    const bool segmentMode = settings.segmentSeconds > 0;
    plan.row = row;
    plan.entry = &rows.entries[segmentMode ? 0 : static_cast<size_t>(row)];
    plan.start = windowStart;
    plan.end = windowStart + windowLength;
    if (segmentMode) {
        plan.start = settings.startTime + static_cast<double>(row) * settings.segmentSeconds;
        plan.end = plan.start + settings.segmentSeconds;
    }
    char section[32];
    std::snprintf(section, sizeof section, "STA%d", segmentMode ? 0 : row);
    ReadRowSettings(section, settings, plan.band, plan.scaleText);
    plan.prerollNote = ReadRowPreroll(section, settings, plan.preroll);
    plan.fillNote = ReadRowFill(section, settings, plan.fill);
    plan.joined = plan.band.enabled && plan.preroll > 0.0;
    // The rows of a drum continue each other: each goes on with the filter where the row
    // before it ended, so only the first reads a pre-roll, and the drum is filtered once
    // however long the pre-roll is.
    plan.carried = segmentMode && plan.joined;
    plan.carriedSeconds = plan.carried ? settings.windowSeconds + plan.preroll : 0.0;
    plan.readStart =
        plan.joined && !(plan.carried && row > 0) ? plan.start - plan.preroll : plan.start;
    plan.exporting = settings.cssEnabled || rows.exports.mseed != nullptr;
    const bool exporting = plan.exporting;
    // Exports take the samples as read, so only a row without them is filtered by the threads
    // that read it. A joined row is one recursion, which one thread runs: every other one is
    // filtered by the reading threads while this thread filters the row before it. A drum's
    // rows go on from each other: they are filtered one after another on a thread of their
    // own, while the reading threads read the row after and this thread draws. Other rows
    // hide each file's start-up transient, which moves missing-sample markers, so a row whose
    // coverage is described is filtered here, after its coverage is found.
    // Without the filled-in samples, a row is filtered once they are cut out, here.
    const bool describing = settings.showGaps || settings.writeJson;
    plan.filteredWhileRead = plan.band.enabled && !exporting && plan.fill &&
                             (plan.joined ? plan.carried || row % 2 == 1 : !describing);
    return plan;
}

// Lists the segments of the plan's read in the catalogue.
std::vector<SegmentRow> ListRow(Catalogue& catalogue, const SdsSource* sds, const RowPlan& plan) {
    std::vector<SegmentRow> listed;
    // An SDS row's day files are found by the reader.
    if (sds != nullptr)
        return listed;
    if (!catalogue.ListSegments(plan.entry->station, plan.entry->channel, plan.readStart, plan.end,
                                listed))
        listed.clear();
    return listed;
}

// Tells on standard error, once a row lists segments to read, when the data folder cannot be
// read: every row would then be drawn without data and the run otherwise looks fine. checked
// becomes true once the folder was looked at.
void CheckDataFolder(const Settings& settings, const std::vector<SegmentRow>& listed,
                     bool& checked) {
    if (checked || listed.empty())
        return;
    checked = true;
    const std::string folder = MapHostPath(settings.dataDir);
    std::string reason;
    if (CheckFolderReadable(folder, reason) != 1)
        std::fprintf(stderr, "Cannot read data folder %s: %s\n", folder.c_str(), reason.c_str());
}

// Returns the SDS stream of an entry.
SdsStream EntryStream(const StationEntry& entry) {
    return {entry.network, entry.station, entry.location, entry.channel};
}

// Hands the listed segments of the plan's read (or, with sds, its SDS stream, shared by two
// threads when share is set) to the reader. A drum's rows filtered through each other are read
// unfiltered: their filter runs on a thread of their own, or here.
void StartRow(const Settings& settings, const SdsSource* sds, const RowPlan& plan,
              const std::vector<SegmentRow>& listed, bool beside, ReadAhead& reader,
              bool share = true) {
    const FilterBand* band = plan.filteredWhileRead && !beside ? &plan.band : nullptr;
    if (sds != nullptr) {
        reader.StartSds(sds->root, EntryStream(*plan.entry), sds->dayIndex.get(), plan.readStart,
                        plan.end, band, plan.joined, share);
        return;
    }
    reader.Start(listed, settings.dataDir, plan.entry->station, plan.entry->channel, plan.readStart,
                 plan.end, band, plan.joined);
}

// Returns the samples of the first row's read (with its pre-roll) at the highest rate of its
// segments.
double FirstRowSamples(const SdsSource* sds, const RowPlan& first,
                       const std::vector<SegmentRow>& listed) {
    double rate = 0.0;
    if (sds != nullptr) {
        rate = SdsWindowRate(sds->root, EntryStream(*first.entry), first.readStart, first.end,
                             sds->dayIndex.get());
    }
    for (const SegmentRow& segment : listed) rate = std::max(rate, segment.sps);
    return (first.end - first.readStart) * rate;
}

// A row made ready to draw: its plan, what its samples cover and what is said of them, its
// automatic extremes, and the samples themselves or, when every range must be known before
// the rows are drawn, their pixel columns.
struct PreparedRow {
    RowPlan plan;
    std::unique_ptr<Trace> trace;       // the samples, when the row is drawn at once
    std::vector<TraceColumns> columns;  // the samples' columns, when it is drawn later
    SampleExtremes extremes;            // of its prepared samples, for an automatic scale
    AmplitudeRange range;
    bool commonScale = false;  // its range is the one of all automatic rows
    Coverage coverage;
    std::string applied;
    std::vector<double> rates;
};

// Prepares one row from the trace of its read (one segment per listed segment): exports it
// before filtering when asked, finds its coverage, filters it and settles its own range; with
// keepColumns the samples are reduced to their pixel columns. carry is where a drum's filter
// stands between its rows.
PreparedRow PrepareRow(const Settings& settings, const SdsSource* sds, const RowPlan& plan,
                       const std::vector<SegmentRow>& listed, std::unique_ptr<Trace> read,
                       JoinedRowCarry& carry, bool keepColumns, PlotRows& rows) {
    const StationEntry& entry = *plan.entry;
    const double rowStart = plan.start;
    const double rowEnd = plan.end;
    const FilterBand& band = plan.band;
    const bool joined = plan.joined;
    for (const std::string* note : {&plan.prerollNote, &plan.fillNote}) {
        if (!note->empty() && rows.notes.insert(*note).second)
            std::fprintf(stderr, "%s\n", note->c_str());
    }
    PreparedRow prepared;
    prepared.plan = plan;

    Trace& trace = *read;
    // The exports hold the window as read; a row read with its pre-roll hands them the
    // window's part of the same samples, so its files are read once.
    const bool prerollRead = plan.readStart < rowStart;
    if (plan.exporting && prerollRead) {
        Trace window;
        if (sds != nullptr) {
            // The window's records are decoded again for it alone, so that they are placed as a
            // read of the window places them (a stream's segments are anchored at their first
            // record read); the day files' record lists come from the run's index.
            std::vector<std::string> unread;
            ReadSdsTrace(sds->root, EntryStream(entry), rowStart, rowEnd, window, unread, false,
                         sds->dayIndex.get());
        } else {
            CutTraceToWindow(trace, listed, plan.readStart, rowStart, rowEnd, window);
        }
        window.RemoveEmptySegments();
        if (!plan.fill)
            window.KeepPresentSamples();
        ExportRow(settings, entry, window, rows);
    }
    // A file that only touches the window (ending at its start, or beginning at its end) is
    // listed but holds no samples in it: it draws nothing, and exported it would be a record
    // without data dated 1970.
    trace.RemoveEmptySegments();
    if (!plan.fill)
        trace.KeepPresentSamples();
    if (plan.exporting && !prerollRead)
        ExportRow(settings, entry, trace, rows);
    // What the samples as read cover of the window, before filtering moves anything.
    const bool describing = settings.showGaps || settings.writeJson;
    if (describing)
        prepared.coverage = FindCoverage(trace, rowStart, rowEnd);
    // A drum's rows go on with each other's filter: its runs may last the whole drum.
    const double carriedSeconds = plan.carriedSeconds;
    ReportFilterChanges(entry, band, trace, joined, carriedSeconds, rows.notes);
    // Only the description needs these, and they must be taken before filtering.
    if (settings.writeJson) {
        prepared.applied = AppliedFilter(band, trace, joined, carriedSeconds);
        prepared.rates = SampleRates(trace);
    }
    if (joined) {
        if (!plan.filteredWhileRead)
            FilterJoinedRowSamples(trace, band, plan.carried ? &carry : nullptr);
        DropPreroll(trace, rowStart);
    } else if (!plan.filteredWhileRead) {
        PrepareRowSamples(trace, band);
    }
    if (IsAutoScale(plan.scaleText)) {
        AddSampleExtremes(trace, prepared.extremes);
        prepared.range = AutoRange(prepared.extremes);
    } else {
        prepared.range = ResolveAmplitudeRange(plan.scaleText, trace);
    }
    if (keepColumns) {
        for (int i = 0; i < trace.SegmentCount(); ++i)
            prepared.columns.push_back(
                SummariseTracePiece(rows.layout, rowStart, rowEnd, trace.SegmentAt(i)));
    } else {
        prepared.trace = std::move(read);
    }
    return prepared;
}

// True when a drum's row starts a new UTC day: the first row, or one whose day differs from
// the row before it.
bool StartsDay(const Settings& settings, const RowPlan& plan) {
    const auto day = [](double time) { return std::floor(time / 86400.0); };
    return plan.row == 0 || day(plan.start) != day(plan.start - settings.segmentSeconds);
}

// Draws one prepared row: separators, the min/max label, gap bars, samples, phase marks and
// the labels (outside segment mode the station's, in a drum with row times the row's time),
// then describes it.
void DrawPreparedRow(const Settings& settings, const PreparedRow& prepared, PlotRows& rows) {
    const RowPlan& plan = prepared.plan;
    const bool segmentMode = settings.segmentSeconds > 0;
    const int row = plan.row;
    const StationEntry& entry = *plan.entry;
    const double rowStart = plan.start;
    const double rowEnd = plan.end;
    const FilterBand& band = plan.band;
    const AmplitudeRange& range = prepared.range;
    const Coverage& coverage = prepared.coverage;
    gdImagePtr image = rows.image.get();
    DrawRowSeparators(image, rows.palette, rows.layout, row);
    // A drum's row is labelled with its time where a station label stands.
    const std::string timeLabel = segmentMode && settings.rowTimes && settings.showLabels
                                      ? RowTimeText(rowStart, StartsDay(settings, plan))
                                      : std::string();
    const int minMaxX = timeLabel.empty() ? 50 : RowTimeEnd(rows.layout, timeLabel) + 6;
    if (settings.showMinMax)
        DrawMinMaxLabel(image, rows.palette, rows.layout, row, range, minMaxX);
    if (settings.showGaps)
        DrawGapBars(image, rows.gapIndex, rows.layout, row, rowStart, rowEnd, coverage.missing);
    if (prepared.trace != nullptr) {
        for (int i = 0; i < prepared.trace->SegmentCount(); ++i) {
            DrawTracePiece(image, rows.palette.waveform, rows.layout, row, range, rowStart, rowEnd,
                           prepared.trace->SegmentAt(i));
        }
    }
    for (const TraceColumns& columns : prepared.columns)
        DrawTraceColumns(image, rows.palette.waveform, rows.layout, row, range, rowStart, rowEnd,
                         columns);
    DrawPhaseMarks(image, rows.palette.text, rows.layout, row, rowStart, rowEnd, entry.picks);
    if (!segmentMode)
        DrawRowLabels(image, rows.palette, rows.layout, row, entry.station, entry.channel, band);
    else if (!timeLabel.empty())
        DrawRowTime(image, rows.palette, rows.layout, row, timeLabel);
    const double completeness =
        rowEnd > rowStart ? coverage.coveredSeconds / (rowEnd - rowStart) : 0.0;
    if (settings.showGaps) {
        DrawCompleteness(image, rows.palette.text, rows.layout, row, completeness,
                         segmentMode ? timeLabel : entry.station,
                         settings.showMinMax ? &range : nullptr, minMaxX);
    }
    rows.lastRowBand = band;
    if (settings.writeJson) {
        DescribedRow described;
        described.number = row;
        described.station = entry.station;
        described.channel = entry.channel;
        described.hasStreamCodes = entry.hasStreamCodes;
        described.network = entry.network;
        described.location = entry.location;
        described.bandTop = rows.layout.RowTop(row);
        described.bandHeight = rows.layout.rowHeight;
        described.start = rowStart;
        described.end = rowEnd;
        described.filter = band;
        described.filterApplied = prepared.applied;
        described.prerollSeconds = plan.joined ? plan.preroll : 0.0;
        described.autoScale = IsAutoScale(plan.scaleText);
        described.commonScale = prepared.commonScale;
        described.scaleMin = range.min;
        described.scaleMax = range.max;
        described.sampleRates = prepared.rates;
        described.completeness = completeness;
        described.gaps = coverage.missing;
        DescribePicks(rows.layout, rowStart, rowEnd, entry.picks, described);
        rows.description.rows.push_back(std::move(described));
    }
}

}  // namespace

int BuildStationList(const Settings& settings, Catalogue& catalogue, const SdsSource* sds,
                     double windowStart, int windowLength, StationList& entries,
                     bool& catalogueList) {
    catalogueList = settings.traceCountText == "ALL";
    StationList picked;
    if (sds != nullptr && catalogueList)
        picked = ListSdsEventStations(settings, *sds);
    const int count = !catalogueList ? TraceCountFromText(settings.traceCountText)
                      : sds != nullptr
                          ? static_cast<int>(picked.size())
                          : catalogue.ListCatalogueStations(settings.startTime, settings.eventId);
    const int listed = ReportFailedQuery(catalogue);
    if (listed != STATUS_OK)
        return listed;
    if (count < 1)
        return PrintTooFewTraces(settings);
    if (settings.segmentSeconds > 0 && count > 1) {
        std::printf("Missing number of trace (>1) for NSEC=%d:%d! in INI (%s)\n",
                    settings.windowSeconds, settings.segmentSeconds, settings.iniFile.c_str());
        return STATUS_TRACE_COUNT;
    }
    // Every entry is read and asked for its picks before any row is drawn, so a count that
    // cannot fit one image is refused before that work starts. In segment mode the rows are
    // the segments, which the run driver has checked already.
    if (settings.segmentSeconds <= 0) {
        const int status = CheckImageFits(settings, count, catalogueList);
        if (status != STATUS_OK)
            return status;
    }
    const double windowEnd = windowStart + windowLength;
    for (int i = 0; i < count; ++i) {
        StationEntry entry;
        if (sds != nullptr && catalogueList)
            entry = picked[static_cast<std::size_t>(i)];
        else if (catalogueList)
            catalogue.GetCatalogueStation(entry.station, entry.channel, i);
        else
            ReadStationEntry(settings, i, entry.station, entry.channel);
        entry.index = i;
        if (sds != nullptr) {
            CompleteSdsEntry(settings, *sds, !catalogueList, i, windowStart, windowEnd, entry);
            entries.push_back(std::move(entry));
            continue;
        }
        catalogue.QueryPicks(windowStart, windowEnd, entry.station, entry.channel, settings.eventId,
                             settings.phaseClause, entry.picks);
        entries.push_back(std::move(entry));
    }
    return ReportFailedQuery(catalogue);
}

void PrintMseedWriteError(const Settings& settings) {
    std::fprintf(stderr, "Cannot write miniSEED file %s!\n", settings.mseedFile.c_str());
}

int CheckImageFits(const Settings& settings, int rowCount, bool catalogueList) {
    const PlotLayout asked = ComputePlotLayout(settings.imageWidth, settings.imageHeight, rowCount,
                                               settings.showLabels, catalogueList);
    if (LayoutFits(asked))
        return STATUS_OK;
    // Laid out from a requested height of 0, every row has its minimum height.
    const PlotLayout smallest =
        ComputePlotLayout(settings.imageWidth, 0, rowCount, settings.showLabels, catalogueList);
    if (!LayoutFits(smallest))
        return PrintTooManyRows(rowCount);
    std::printf("Invalid image size (SIZE=%dx%d)!\n", settings.imageWidth, settings.imageHeight);
    return STATUS_WINDOW_SETTINGS;
}

void SortStationEntries(StationList& entries) {
    // Neighbour exchange keeps entries with equal first-pick times in listing order.
    bool exchanged = true;
    while (exchanged) {
        exchanged = false;
        for (size_t j = 0; j + 1 < entries.size(); ++j) {
            if (entries[j + 1].FirstPickTime() < entries[j].FirstPickTime()) {
                std::swap(entries[j], entries[j + 1]);
                exchanged = true;
            }
        }
    }
}

int RunRows(Settings& settings, Catalogue& catalogue, const SdsSource* sds, double windowStart,
            int windowLength, PlotRows& rows) {
    bool catalogueList = false;
    const int status = BuildStationList(settings, catalogue, sds, windowStart, windowLength,
                                        rows.entries, catalogueList);
    if (status != STATUS_OK)
        return status;
    SortStationEntries(rows.entries);

    const bool segmentMode = settings.segmentSeconds > 0;
    int rowCount = static_cast<int>(rows.entries.size());
    if (segmentMode) {
        rowCount = settings.windowSeconds / settings.segmentSeconds;
        settings.windowSeconds = rowCount * settings.segmentSeconds;
    }
    // A window shorter than one segment leaves nothing to draw.
    if (rowCount < 1)
        return PrintTooFewTraces(settings);

    const int fits = CheckImageFits(settings, rowCount, catalogueList);
    if (fits != STATUS_OK)
        return fits;

    rows.layout = ComputePlotLayout(settings.imageWidth, settings.imageHeight, rowCount,
                                    settings.showLabels, catalogueList);
    settings.imageHeight = rows.layout.height;
    rows.image = CreatePlotImage(rows.layout, settings.backgroundColor, settings.waveformColor,
                                 settings.textColor, rows.palette);
    // The size fits; only memory can be short.
    if (!rows.image) {
        std::printf("Cannot create an image of %dx%d pixels!\n", rows.layout.width,
                    rows.layout.height);
        return STATUS_WINDOW_SETTINGS;
    }

    // The gap colour comes after every entry the plot allocates: the six fixed ones and one per
    // row. Its index is known before the rows are drawn, so their bars can use it; it is
    // allocated after the last row. A palette without room for it gets no bars.
    const int gapIndex = 6 + rowCount;
    if (settings.showGaps && gapIndex < gdMaxColors)
        rows.gapIndex = gapIndex;

    // Every row allocates its sample arrays and frees them when it is done.
    KeepFreedMemory();
    // While a row is drawn, the next one is read on a second core. The catalogue, the
    // exports and the image stay here, in row order, so the output is the same either way;
    // two rows' samples are held at most.
    ReadAhead reader;
    JoinedRowCarry carry;
    // With one scale for all automatic rows, every row is prepared before any is drawn, and
    // holds its pixel columns meanwhile, not its samples.
    const bool commonScale = settings.commonScale;
    std::vector<PreparedRow> waiting;
    SampleExtremes common;
    // The rows planned and listed (the next to draw first) and whose reads have been started.
    struct PlannedRow {
        RowPlan plan;
        std::vector<SegmentRow> listed;
    };
    std::deque<PlannedRow> planned;
    bool folderChecked = false;
    const auto planRow = [&](int row) {
        PlannedRow next;
        next.plan = PlanRow(settings, rows, row, windowStart, windowLength);
        next.listed = ListRow(catalogue, sds, next.plan);
        CheckDataFolder(settings, next.listed, folderChecked);
        planned.push_back(std::move(next));
    };
    planRow(0);
    const RowPlan first = planned.front().plan;
    // A drum filtered through its rows runs its filter as one recursion, and a drum read from
    // SDS day files holds a row as one long segment, whose recursion no other thread shares:
    // the rows are filtered in order on a thread of their own, while the rows after are read
    // and the one before drawn. A drum filtered through its rows holds three rows at once,
    // which the memory spared for the rows allows for rows of a few million samples; longer
    // rows are filtered while the row after is read. Rows filtered each on its own go to that
    // thread in groups, whose segments it filters side by side, while they are short enough.
    const bool beside = segmentMode && first.filteredWhileRead && (first.carried || sds != nullptr);
    const double rowSamples =
        beside || sds != nullptr ? FirstRowSamples(sds, first, planned.front().listed) : 0.0;
    const RowFilterHandover handover =
        beside ? PlanRowFilterHandover(rowSamples, first.joined,
                                       SegmentFilterGroup(2 * MAX_FILTER_GROUP))
               : RowFilterHandover();
    if (first.carried)
        carry.runSeconds = first.carriedSeconds;
    // Rows read from SDS day files are read two at a time, each by one thread of a reader of
    // its own (sharing a short row's records between two threads costs more than it saves),
    // while the first row holds at most a million samples, so that the third row in hand takes
    // little of the memory spared beside two rows, and a drum's rows go to its filter thread in
    // groups. Longer rows are read one at a time, shared by the two threads of one reader.
    constexpr double PAIRED_ROW_SAMPLES = 1e6;
    std::unique_ptr<ReadAhead> secondReader;
    if (sds != nullptr && rowSamples <= PAIRED_ROW_SAMPLES && (!beside || handover.group > 1))
        secondReader = std::make_unique<ReadAhead>();
    const bool share = secondReader == nullptr;
    // The reader of a row: the rows alternate between the readers.
    const auto readerOf = [&](int row) -> ReadAhead& {
        return share || row % 2 == 0 ? reader : *secondReader;
    };
    const int ahead = share ? 1 : 2;
    StartRow(settings, sds, first, planned.front().listed, beside, reader, share);
    for (int row = 1; row < ahead && row < rowCount; ++row) {
        planRow(row);
        StartRow(settings, sds, planned.back().plan, planned.back().listed, beside, readerOf(row),
                 share);
    }
    int taken = 0;
    // Takes the read of the next row and starts the one after the rows being read, planned and
    // listed while the reads before it go on.
    const auto takeRead = [&] {
        const int started = taken + ahead;
        if (started < rowCount)
            planRow(started);
        ReadAhead& taking = readerOf(taken);
        std::unique_ptr<Trace> trace = taking.Take();
        // Each file with unreadable data is named once in a run.
        for (const std::string& note : taking.Notes()) {
            if (rows.notes.insert(note).second)
                std::fprintf(stderr, "%s\n", note.c_str());
        }
        ++taken;
        if (started < rowCount)
            StartRow(settings, sds, planned.back().plan, planned.back().listed, beside, taking,
                     share);
        return trace;
    };
    RowFilterQueue filtering(handover, [&band = first.band, &carry, joined = first.joined](
                                           std::vector<std::unique_ptr<Trace>>& group) {
        if (joined) {
            group.front()->RemoveEmptySegments();
            FilterJoinedRowSamples(*group.front(), band, &carry);
            return;
        }
        // Each segment is filtered on its own, the group's side by side.
        std::vector<SampleVector*> segments;
        for (const std::unique_ptr<Trace>& read : group)
            for (int i = 0; i < read->SegmentCount(); ++i) segments.push_back(&read->SegmentAt(i));
        PrepareSegmentGroup(segments.data(), static_cast<int>(segments.size()), band);
    });
    for (int row = 0; row < rowCount; ++row) {
        std::unique_ptr<Trace> trace;
        if (beside) {
            while (filtering.WantsMore() && taken < rowCount) {
                std::unique_ptr<Trace> read = takeRead();
                filtering.Add(std::move(read), taken == rowCount);
            }
            trace = filtering.Next();
        } else {
            trace = takeRead();
        }
        PlannedRow current = std::move(planned.front());
        planned.pop_front();
        const RowPlan& plan = current.plan;
        const std::vector<SegmentRow>& listed = current.listed;
        PreparedRow prepared =
            PrepareRow(settings, sds, plan, listed, std::move(trace), carry, commonScale, rows);
        if (!commonScale) {
            DrawPreparedRow(settings, prepared, rows);
            continue;
        }
        if (IsAutoScale(plan.scaleText)) {
            common.max = std::max(common.max, prepared.extremes.max);
            common.min = std::min(common.min, prepared.extremes.min);
        }
        waiting.push_back(std::move(prepared));
    }
    const AmplitudeRange commonRange = AutoRange(common);
    for (PreparedRow& prepared : waiting) {
        if (IsAutoScale(prepared.plan.scaleText)) {
            prepared.range = commonRange;
            prepared.commonScale = true;
        }
        DrawPreparedRow(settings, prepared, rows);
    }
    // A row whose listing failed was drawn without data; the run ends before the image is
    // written, so the last good picture stays in place.
    const int queried = ReportFailedQuery(catalogue);
    if (queried != STATUS_OK)
        return queried;
    if (rows.gapIndex >= 0) {
        const RgbTriple& gap = settings.gapColor;
        if (gdImageColorAllocate(rows.image.get(), gap.red, gap.green, gap.blue) != rows.gapIndex)
            rows.gapIndex = -1;
    }
    return STATUS_OK;
}
