#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dsp/pick.h"

class OdbcEnvironment;
class OdbcConnection;

// One row of the segment listing: where one catalogued segment's samples lie.
struct SegmentRow {
    std::string station;
    double tbegin = 0.0;  // epoch seconds of the segment's first sample
    double tqty = 0.0;    // length of the segment, seconds
    double sps = 0.0;     // samples per second
    std::string cpath;    // file path relative to the data directory, as the catalogue stores it
    int datatype = 0;     // sample encoding code; an unknown code when NULL
    long long foff = 0;   // byte offset of the segment's first sample in its file; NULL means 0
};

// One station and its channel as the station listing found them.
struct CatalogueStation {
    std::string station;
    std::string channel;
};

// Writes the statement that lists the segments of station/channel meeting the window from t1
// to t2 (epoch seconds): those that contain t1 (both ends inclusive) or begin inside [t1, t2],
// in ascending tbegin. Besides the window's condition it holds a bound on tbegin that every
// such row meets, so that the databases read the window's rows rather than the channel's
// whole history.
std::string SegmentListingStatement(const std::string& station, const std::string& channel,
                                    double t1, double t2);

// The catalogue of the acquisition system (tables filelist, arrival, origin), reached
// through one ODBC connection. Every statement is a read-only SELECT; each query owns its
// statement for the length of the call. A failed statement (an ODBC error while it runs or
// while its rows are fetched, such as a lost connection or a locked database) reads as an
// empty result, and FailedQuery names the first one that failed, so a caller can tell it
// from a result without rows.
class Catalogue {
public:
    Catalogue();
    ~Catalogue();
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Connects to the data source. Returns 1 when connected, 0 on failure.
    int OpenCatalogue(const std::string& dsn, const std::string& user, const std::string& password);
    // Disconnects and releases the handles. Always returns 1.
    int CloseCatalogue();

    // Lists the stations with vertical-channel data ending after windowStart - 300 s, one
    // (alphabetically first) vertical channel per station, in code order; with an event id,
    // only the stations that picked that event, in the order of their picks. Returns the
    // number of stations listed (0 when the statement fails).
    int ListCatalogueStations(double windowStart, const std::string& eventId);
    // Copies station index of the latest listing. Returns 0 when 0 <= index < count, else -1
    // with nothing copied.
    int GetCatalogueStation(std::string& station, std::string& channel, int index) const;

    // Appends the picks of station/channel with windowStart <= itime <= windowEnd (epoch
    // seconds), of eventId when it is not empty, restricted further by extraCondition (SQL
    // text inserted unchanged, such as the phase clause), in ascending time.
    void QueryPicks(double windowStart, double windowEnd, const std::string& station,
                    const std::string& channel, const std::string& eventId,
                    const std::string& extraCondition, PickList& picks);

    // Finds the event whose orid equals id or whose event id begins with id, the latest
    // first arrival among the matches. Returns 0 when found: id becomes the full event id
    // and startText the window start, windowSeconds / 5 before the first arrival, cut down
    // to a whole minute, written "%d:%d:%f %d//%d//%d". Returns 1 when not found, with both
    // left unchanged.
    int FindEventStart(std::string& id, std::string& startText, float windowSeconds);

    // Finds the latest origin by origin time. Returns 0 when found, with the outputs filled
    // (lat and lon in degrees, originTime in epoch seconds); 1 when not, outputs unchanged.
    int QueryLatestEvent(std::string& orid, float& lat, float& lon, double& originTime);

    // Lists the segments of station/channel that contain t1 (both ends inclusive) or begin
    // inside [t1, t2], in ascending tbegin. Returns true when the statement ran (rows may
    // still be empty); false when it failed.
    bool ListSegments(const std::string& station, const std::string& channel, double t1, double t2,
                      std::vector<SegmentRow>& rows);

    // Returns the kind of the first query that failed with an ODBC error since the catalogue
    // was created: "stations", "picks", "event" (FindEventStart and QueryLatestEvent) or
    // "segments"; null while none has.
    const char* FailedQuery() const { return failedQuery; }

private:
    // Remembers kind as the failed query, unless an earlier one failed already.
    void NoteFailure(const char* kind);

    std::unique_ptr<OdbcEnvironment> environment;
    std::unique_ptr<OdbcConnection> connection;
    std::vector<CatalogueStation> stations;
    const char* failedQuery = nullptr;
};

// Builds the pick query's phase condition from a comma-separated list of phase names:
// " and iphase in ('P', 'S')". Empty names are skipped and single quotes inside a name are
// doubled; a list without any name gives the empty text.
std::string BuildPhaseClause(const std::string& phaseList);
