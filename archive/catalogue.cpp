#include "archive/catalogue.h"

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/odbc_handles.h"
#include "archive/sql_text.h"
#include "timeutil/calendar.h"

namespace {

// The station listing counts a station as recording when its data ends less than this long
// before the window start.
constexpr double STATION_LOOKBACK_SECONDS = 300.0;

// Stands for a NULL datatype: no sample encoding has this code, so its samples stay zero.
constexpr int UNKNOWN_DATATYPE = -1;

// Formats a text of any length (a statement has no fixed limit) from a printf template.
__attribute__((format(printf, 1, 2))) std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

// True when text is a non-empty run of decimal digits, the only form an orid can take in a
// statement where it stands bare.
bool IsPlainNumber(const std::string& text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// A text column bound into a fixed buffer of size bytes (one of them for the terminator).
template <std::size_t size>
struct TextColumn {
    char buffer[size] = {};
    SQLLEN indicator = SQL_NULL_DATA;

    void Bind(HSTMT statement, SQLUSMALLINT column) {
        SQLBindCol(statement, column, SQL_C_CHAR, buffer, static_cast<SQLLEN>(size), &indicator);
    }
    bool IsNull() const { return indicator == SQL_NULL_DATA; }
    // True when the value did not fit and arrived truncated.
    bool IsCut() const {
        return indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(size);
    }
    std::string Text() const { return std::string(buffer, strnlen(buffer, size)); }
};

// A numeric column bound to a value of type T with the ODBC C type cType.
template <typename T, SQLSMALLINT cType>
struct ValueColumn {
    T value = 0;
    SQLLEN indicator = SQL_NULL_DATA;

    void Bind(HSTMT statement, SQLUSMALLINT column) {
        SQLBindCol(statement, column, cType, &value, static_cast<SQLLEN>(sizeof value), &indicator);
    }
    bool IsNull() const { return indicator == SQL_NULL_DATA; }
};

using DoubleColumn = ValueColumn<double, SQL_C_DOUBLE>;
using ShortColumn = ValueColumn<SQLSMALLINT, SQL_C_SHORT>;
using LongColumn = ValueColumn<SQLINTEGER, SQL_C_LONG>;

// True when a call failed with an error, as opposed to succeeding (perhaps with a warning)
// or finding no more rows.
bool IsOdbcError(SQLRETURN result) { return result == SQL_ERROR || result == SQL_INVALID_HANDLE; }

// Fetches the next row. A row that comes with a warning (a text cut to its buffer) still
// counts as a row; the callers check the cut columns themselves. At the end of the rows, or
// when the fetch fails, returns false; failed is set only in the second case.
bool FetchRow(HSTMT statement, bool& failed) {
    const SQLRETURN result = SQLFetch(statement);
    if (SQL_SUCCEEDED(result))
        return true;
    failed = IsOdbcError(result);
    return false;
}

const char* const STATIONS_QUERY = "stations";
const char* const PICKS_QUERY = "picks";
const char* const EVENT_QUERY = "event";
const char* const SEGMENTS_QUERY = "segments";

}  // namespace

std::string SegmentListingStatement(const std::string& station, const std::string& channel,
                                    double t1, double t2) {
    const std::string sta = EscapeSqlQuotes(station);
    const std::string ch = EscapeSqlQuotes(channel);
    // The window's condition alone leaves SQLite walking the channel's whole history: the OR
    // keeps one index from serving both branches, and the ordered scan of (sta, ch, tbegin)
    // wins over two index searches and a sort. Two more conditions bound that scan without
    // changing the rows. Every row of the first branch ends at t1 or later, so it begins no
    // earlier than the first segment ending at t1 or later, found through the index on
    // (sta, ch, tbegin+tqty); every row of the second begins at t1 or later. The lower bound
    // is the smaller of that first start and t1 (t1 when no segment ends that late), so both
    // branches meet it. Neither branch begins after the larger of t1 and t2. The count keeps
    // the databases from looking for the minimum along the start-time index, from the first
    // segment on. The numbers are written as in the window's condition, so both compare with
    // the same values.
    return FormatText(
        "select sta, tbegin, tqty, sps, cpath, datatype, foff from filelist where sta='%s' and "
        "ch='%s' and ( tbegin<=%.3f and tbegin+tqty>=%.3f or tbegin>=%.3f and tbegin<=%.3f) "
        "and tbegin>=(select case when count(*)>0 and min(tbegin)<%.3f then min(tbegin) else "
        "%.3f end from filelist where sta='%s' and ch='%s' and tbegin+tqty>=%.3f) and "
        "tbegin<=%.3f order by tbegin",
        sta.c_str(), ch.c_str(), t1, t1, t1, t2, t1, t1, sta.c_str(), ch.c_str(), t1,
        t1 > t2 ? t1 : t2);
}

Catalogue::Catalogue() = default;

Catalogue::~Catalogue() { CloseCatalogue(); }

int Catalogue::OpenCatalogue(const std::string& dsn, const std::string& user,
                             const std::string& password) {
    connection.reset();
    if (!environment) {
        environment = std::make_unique<OdbcEnvironment>();
        if (!environment->IsOpen()) {
            environment.reset();
            return 0;
        }
    }
    connection = std::make_unique<OdbcConnection>(environment->Get());
    if (!connection->Connect(dsn, user, password)) {
        // The environment stays allocated; a later attempt reuses it.
        connection.reset();
        return 0;
    }
    return 1;
}

int Catalogue::CloseCatalogue() {
    // Disconnect and free the connection before the environment it was allocated on.
    connection.reset();
    environment.reset();
    return 1;
}

void Catalogue::NoteFailure(const char* kind) {
    if (failedQuery == nullptr)
        failedQuery = kind;
}

int Catalogue::ListCatalogueStations(double windowStart, const std::string& eventId) {
    stations.clear();
    if (!connection)
        return 0;
    const double bound = windowStart - STATION_LOOKBACK_SECONDS;
    const std::string text =
        eventId.empty()
            ? FormatText(
                  "select distinct sta, ch from filelist where tbegin+tqty > %f and (ch like "
                  "'%%z%%' or ch like '%%Z%%') order by sta, ch",
                  bound)
            : FormatText(
                  "select distinct f.sta, f.ch, a.itime from filelist as f inner join arrival as "
                  "a on f.sta=a.sta where f.tbegin+f.tqty > %f and a.eventid='%s' and (f.ch like "
                  "'%%z%%' or f.ch like '%%Z%%') order by a.itime, f.sta, f.ch",
                  bound, EscapeSqlQuotes(eventId).c_str());

    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(statement.Execute(text))) {
        NoteFailure(STATIONS_QUERY);
        return 0;
    }
    // Codes of up to 15 characters, what a plot line can hold; a longer code could not be
    // queried back and is skipped rather than listed cut.
    TextColumn<16> station;
    TextColumn<16> channel;
    station.Bind(statement.Get(), 1);
    channel.Bind(statement.Get(), 2);
    bool failed = false;
    while (FetchRow(statement.Get(), failed)) {
        if (station.IsNull() || station.IsCut() || channel.IsNull() || channel.IsCut())
            continue;
        const std::string code = station.Text();
        // An empty code would occur inside every other code and hide all stations after it.
        if (code.empty())
            continue;
        // One line per station: the rows come sorted, so its first vertical channel (or, for
        // an event, its earliest pick) is kept. The test is deliberately a substring test,
        // so a station whose code contains a listed code is left out as well.
        bool listed = false;
        for (const CatalogueStation& entry : stations) {
            if (code.find(entry.station) != std::string::npos) {
                listed = true;
                break;
            }
        }
        if (!listed)
            stations.push_back(CatalogueStation{code, channel.Text()});
    }
    if (failed) {
        NoteFailure(STATIONS_QUERY);
        stations.clear();
    }
    return static_cast<int>(stations.size());
}

int Catalogue::GetCatalogueStation(std::string& station, std::string& channel, int index) const {
    if (index < 0 || index >= static_cast<int>(stations.size()))
        return -1;
    const CatalogueStation& entry = stations[static_cast<std::size_t>(index)];
    station = entry.station;
    channel = entry.channel;
    return 0;
}

void Catalogue::QueryPicks(double windowStart, double windowEnd, const std::string& station,
                           const std::string& channel, const std::string& eventId,
                           const std::string& extraCondition, PickList& picks) {
    if (!connection)
        return;
    const std::string quotedStation = EscapeSqlQuotes(station);
    const std::string quotedChannel = EscapeSqlQuotes(channel);
    const std::string text =
        eventId.empty()
            ? FormatText(
                  "select iphase, itime, dist from arrival where sta='%s' and chan='%s'  and "
                  "(itime<=%.3f and itime>=%.3f) %s order by itime",
                  quotedStation.c_str(), quotedChannel.c_str(), windowEnd, windowStart,
                  extraCondition.c_str())
            : FormatText(
                  "select iphase, itime, dist from arrival where sta='%s' and chan='%s'  and ( "
                  "itime<=%.3f and itime>=%.3f ) and eventid='%s' %s order by itime",
                  quotedStation.c_str(), quotedChannel.c_str(), windowEnd, windowStart,
                  EscapeSqlQuotes(eventId).c_str(), extraCondition.c_str());

    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(statement.Execute(text))) {
        NoteFailure(PICKS_QUERY);
        return;
    }
    TextColumn<16> phase;  // a phase name keeps at most 15 characters
    DoubleColumn time;
    DoubleColumn distance;
    phase.Bind(statement.Get(), 1);
    time.Bind(statement.Get(), 2);
    distance.Bind(statement.Get(), 3);
    bool failed = false;
    while (FetchRow(statement.Get(), failed)) {
        if (phase.IsNull() || time.IsNull() || distance.IsNull())
            continue;
        Pick pick;
        pick.time = time.value;
        pick.phase = phase.Text();
        pick.distance = distance.value;
        picks.push_back(pick);
    }
    if (failed)
        NoteFailure(PICKS_QUERY);
}

int Catalogue::FindEventStart(std::string& id, std::string& startText, float windowSeconds) {
    if (!connection || id.empty())
        return 1;
    const std::string prefix = EscapeSqlQuotes(id);
    // Only a plain number may stand bare after "o.orid="; any other id can only match an
    // event id by its beginning, so the orid comparison is left out instead of sending a
    // statement the database would reject (or, worse, run).
    const std::string text =
        IsPlainNumber(id)
            ? FormatText(
                  "select o.eventid, min(a.itime) as itime from origin as o inner join arrival "
                  "as a on a.eventid=o.eventid where o.orid=%s or o.eventid like '%s%%' group "
                  "by o.eventid order by itime desc",
                  id.c_str(), prefix.c_str())
            : FormatText(
                  "select o.eventid, min(a.itime) as itime from origin as o inner join arrival "
                  "as a on a.eventid=o.eventid where o.eventid like '%s%%' group by o.eventid "
                  "order by itime desc",
                  prefix.c_str());

    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(statement.Execute(text))) {
        NoteFailure(EVENT_QUERY);
        return 1;
    }
    TextColumn<64> eventId;
    DoubleColumn firstArrival;
    eventId.Bind(statement.Get(), 1);
    firstArrival.Bind(statement.Get(), 2);
    // Databases disagree where NULLs sort in a descending order (first on PostgreSQL, last
    // on SQLite), so events without a usable arrival time are passed over here. An event id
    // too long for its buffer ends the search: a cut id would name no event.
    SQLRETURN result = SQLFetch(statement.Get());
    while (result == SQL_SUCCESS && (firstArrival.IsNull() || eventId.IsNull()))
        result = SQLFetch(statement.Get());
    if (IsOdbcError(result))
        NoteFailure(EVENT_QUERY);
    if (result != SQL_SUCCESS)
        return 1;

    const double t = firstArrival.value - static_cast<double>(windowSeconds / 5);
    // Far outside any calendar, the time has no whole-second value to cut down to.
    if (!(std::fabs(t) < 1e15))
        return 1;
    // Whole seconds toward zero, then down to the minute.
    const long long minuteStart = static_cast<long long>(t) / 60 * 60;
    const CalendarFields start = CalendarOf(static_cast<double>(minuteStart));
    startText = FormatText("%d:%d:%f %d//%d//%d", start.hour, start.minute,
                           static_cast<double>(start.second), start.day, start.month, start.year);
    id = eventId.Text();
    return 0;
}

int Catalogue::QueryLatestEvent(std::string& orid, float& lat, float& lon, double& originTime) {
    if (!connection)
        return 1;
    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(
            statement.Execute("select orid, lat, lon, origintime from origin order by origintime "
                              "desc"))) {
        NoteFailure(EVENT_QUERY);
        return 1;
    }
    TextColumn<64> oridText;
    DoubleColumn latitude;
    DoubleColumn longitude;
    DoubleColumn time;
    oridText.Bind(statement.Get(), 1);
    latitude.Bind(statement.Get(), 2);
    longitude.Bind(statement.Get(), 3);
    time.Bind(statement.Get(), 4);
    // An origin without a time cannot be the latest; PostgreSQL sorts it first in a
    // descending order, SQLite last, so it is passed over on both.
    SQLRETURN result = SQLFetch(statement.Get());
    while (result == SQL_SUCCESS && time.IsNull()) result = SQLFetch(statement.Get());
    if (IsOdbcError(result))
        NoteFailure(EVENT_QUERY);
    if (result != SQL_SUCCESS || oridText.IsNull() || latitude.IsNull() || longitude.IsNull())
        return 1;
    orid = oridText.Text();
    lat = static_cast<float>(latitude.value);
    lon = static_cast<float>(longitude.value);
    originTime = time.value;
    return 0;
}

bool Catalogue::ListSegments(const std::string& station, const std::string& channel, double t1,
                             double t2, std::vector<SegmentRow>& rows) {
    rows.clear();
    if (!connection)
        return false;
    const std::string text = SegmentListingStatement(station, channel, t1, t2);

    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(statement.Execute(text))) {
        NoteFailure(SEGMENTS_QUERY);
        return false;
    }
    TextColumn<32> sta;
    DoubleColumn tbegin;
    DoubleColumn tqty;
    DoubleColumn sps;
    // Paths longer than the host's usual limit are not cut: a cut path would name another
    // file, so such a row is skipped instead.
    TextColumn<4096> cpath;
    ShortColumn datatype;
    LongColumn foff;
    sta.Bind(statement.Get(), 1);
    tbegin.Bind(statement.Get(), 2);
    tqty.Bind(statement.Get(), 3);
    sps.Bind(statement.Get(), 4);
    cpath.Bind(statement.Get(), 5);
    datatype.Bind(statement.Get(), 6);
    foff.Bind(statement.Get(), 7);
    bool failed = false;
    while (FetchRow(statement.Get(), failed)) {
        // A row that cannot be placed in time or found on disk is of no use to the trace.
        if (tbegin.IsNull() || tqty.IsNull() || sps.IsNull() || !(sps.value > 0.0))
            continue;
        if (cpath.IsNull() || cpath.IsCut())
            continue;
        SegmentRow row;
        row.station = sta.IsNull() ? std::string() : sta.Text();
        row.tbegin = tbegin.value;
        row.tqty = tqty.value;
        row.sps = sps.value;
        row.cpath = cpath.Text();
        row.datatype = datatype.IsNull() ? UNKNOWN_DATATYPE : static_cast<int>(datatype.value);
        row.foff = foff.IsNull() ? 0 : static_cast<long long>(foff.value);
        rows.push_back(row);
    }
    if (failed) {
        NoteFailure(SEGMENTS_QUERY);
        rows.clear();
        return false;
    }
    return true;
}
