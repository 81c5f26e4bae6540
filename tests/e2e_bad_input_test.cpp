// Bad input of every kind against the built trazplot and a generated archive, on SQLite and
// on PostgreSQL: broken catalogue rows, broken segment files, hostile texts, odd settings and
// unusable files. Every run must end with its message and status, or with a correct image
// in which the bad row is empty; never with a signal, a sanitizer report or a hang. The
// catalogue is only ever read: no run changes a row of it, nor a byte of the SQLite file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

// No single run may take longer; the slowest case (300 rows) needs a few seconds.
constexpr double TIME_LIMIT_SECONDS = 60.0;

const char* const SANITIZER_REPORTS[] = {"ERROR: AddressSanitizer",
                                         "runtime error:", "LeakSanitizer"};

constexpr double PI = 3.14159265358979323846;
constexpr double SPS = 20.0;
constexpr double SECOND_DAY = ARCHIVE_START + 86400.0;
// Bytes before the samples of the hand-made segment files: foff of their rows.
constexpr int HEADER_BYTES = 16;

const std::vector<std::string> FIRST_DAY = {"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW"};
const std::vector<std::string> SECOND_DAY_RUN = {"tbeg=10:00:00 03.03.2004", "nsec=600",
                                                 "/NOPREVIEW"};

const char* const TOO_FEW_TRACES = "Missing number of trace (<=0)! in INI (.\\wave.ini)\n";

std::vector<std::string> With(std::vector<std::string> arguments,
                              const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// A sine of 1000 counts and 5 seconds' period, seconds long at 20 samples per second.
std::vector<float> Sine(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * SPS));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<float>(1000.0 * std::sin(2.0 * PI * 0.2 * static_cast<double>(i) / SPS));
    return samples;
}

// The bytes of a segment file: headerBytes zero bytes, then little-endian 32-bit floats.
std::string FloatBytes(const std::vector<float>& samples, int headerBytes) {
    std::string bytes(static_cast<std::size_t>(headerBytes), '\0');
    for (float sample : samples) {
        std::uint32_t raw = 0;
        std::memcpy(&raw, &sample, sizeof raw);
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((raw >> (8 * i)) & 0xFF);
    }
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    EXPECT_TRUE(out.good()) << "cannot write " << path;
}

// Deterministic bytes of every value, NUL, CR, LF and 0xFF included.
std::string Garbage(std::size_t size, std::uint32_t seed) {
    std::string bytes;
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}

// The columns of one filelist row as SQL literals; "NULL" stands for a NULL.
struct FileRow {
    std::string sta;
    std::string ch;
    std::string tbegin;
    std::string tqty;
    std::string sps;
    std::string cpath;
    std::string datatype;
    std::string foff;

    std::string Insert() const {
        return "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) "
               "values (" +
               sta + ", " + ch + ", " + tbegin + ", " + tqty + ", " + sps + ", " + cpath + ", " +
               datatype + ", " + foff + ");\n";
    }
};

std::string ArrivalRow(const std::string& sta, const std::string& chan, const std::string& iphase,
                       const std::string& itime, const std::string& dist,
                       const std::string& eventid) {
    return "insert into arrival (sta, chan, iphase, itime, dist, eventid) values (" + sta + ", " +
           chan + ", " + iphase + ", " + itime + ", " + dist + ", " + eventid + ");\n";
}

// What a row's band shows in the waveform colour.
enum class Look {
    EMPTY,  // nothing: no segment, or a segment without samples
    FLAT,   // one horizontal line: samples that were never read stay 0
    DRAWN,  // a waveform over at least three pixel rows
    HALF,   // a waveform in the left half of the band, the flat line in the right half
};

const char* LookName(Look look) {
    switch (look) {
        case Look::EMPTY:
            return "empty";
        case Look::FLAT:
            return "flat";
        case Look::DRAWN:
            return "drawn";
        case Look::HALF:
            return "half";
    }
    return "?";
}

// Classifies the waveform pixels of a row's band between columns left and right (both
// included) as EMPTY, FLAT or DRAWN; a waveform over exactly two pixel rows is none of them.
std::string LookBetween(const GifPicture& picture, const PlotGeometry& geometry, int row, int left,
                        int right) {
    std::set<int> lines;
    const int top = geometry.RowTop(row);
    for (int y = top; y <= top + geometry.rowHeight; ++y) {
        for (int x = left; x <= right; ++x) {
            if (picture.At(x, y) == WAVEFORM_COLOUR)
                lines.insert(y);
        }
    }
    if (lines.empty())
        return LookName(Look::EMPTY);
    if (lines.size() == 1)
        return LookName(Look::FLAT);
    if (lines.size() >= 3)
        return LookName(Look::DRAWN);
    return "two pixel rows";
}

void ExpectRowLook(const GifPicture& picture, const PlotGeometry& geometry, int row, Look look) {
    const int right = picture.Width() - 2;
    if (look == Look::HALF) {
        const int middle = picture.Width() / 2;
        EXPECT_EQ(LookBetween(picture, geometry, row, 1, middle - 10), LookName(Look::DRAWN))
            << "left half of row " << row;
        EXPECT_EQ(LookBetween(picture, geometry, row, middle + 10, right), LookName(Look::FLAT))
            << "right half of row " << row;
        return;
    }
    EXPECT_EQ(LookBetween(picture, geometry, row, 0, right + 1), LookName(look)) << "row " << row;
}

// A phase mark that must or must not stand in a row of a window starting at S.
struct Mark {
    int row = 0;
    double time = 0.0;  // epoch seconds of the pick
    bool shown = true;
};

// The image a run must leave behind.
struct Picture {
    int width = 700;
    PlotGeometry geometry;
    std::vector<Look> rows;  // what each row shows, in drawing order
    std::vector<Mark> marks;
    std::string sameAs;  // an earlier case whose image this one must equal byte for byte
};

// One bad input and its outcome: a message and its status, or (status 0, no output) an image.
struct BadInput {
    std::string name;
    std::string sections;  // the run's file after its DATA and DATABASE sections
    std::vector<std::string> arguments;
    std::string output;
    int status = SHELL_OK;
    Picture picture;
    // Runs after the run's file is written: replaces it or changes the archive's files.
    std::function<void()> prepare;
};

BadInput Message(const std::string& name, const std::string& sections,
                 const std::vector<std::string>& arguments, const std::string& output, int status) {
    BadInput c;
    c.name = name;
    c.sections = sections;
    c.arguments = arguments;
    c.output = output;
    c.status = status;
    return c;
}

BadInput Image(const std::string& name, const std::string& sections,
               const std::vector<std::string>& arguments, const PlotGeometry& geometry,
               const std::vector<Look>& rows) {
    BadInput c;
    c.name = name;
    c.sections = sections;
    c.arguments = arguments;
    c.picture.geometry = geometry;
    c.picture.rows = rows;
    return c;
}

// The case of a run whose picture is drawn but whose export fails.
BadInput ExportFailure(BadInput c) {
    c.status = SHELL_EXPORT_WRITE;
    return c;
}

// "[WAVEFORMS]\nN#=n\n" and one section per station, STA0 first; a code "name/CH" gives
// the channel too.
std::string Stations(const std::vector<std::string>& codes, const std::string& more = "") {
    std::string text = "[WAVEFORMS]\nN#=" + std::to_string(codes.size()) + "\n" + more;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::size_t slash = codes[i].find('/');
        text += "\n[STA" + std::to_string(i) + "]\nSTA=" + codes[i].substr(0, slash) + "\n";
        if (slash != std::string::npos)
            text += "CH=" + codes[i].substr(slash + 1) + "\n";
    }
    return text;
}

// The rows of every table, in a fixed order, and for SQLite the bytes of the file.
struct CatalogueState {
    std::vector<std::vector<std::string>> filelist;
    std::vector<std::vector<std::string>> arrival;
    std::vector<std::vector<std::string>> origin;
    std::string fileBytes;
};

CatalogueState ReadCatalogueState(TestDataSource& source) {
    CatalogueState state;
    state.filelist = source.QueryRows("select * from filelist order by 1, 2, 3, 4, 5, 6, 7, 8");
    state.arrival = source.QueryRows("select * from arrival order by 1, 2, 3, 4, 5, 6");
    state.origin = source.QueryRows("select * from origin order by 1, 2, 3, 4, 5");
    if (source.GetBackend() == Backend::Sqlite)
        state.fileBytes = ReadFileBytes(source.SqliteFile());
    return state;
}

void ExpectCatalogueUnchanged(TestDataSource& source, const CatalogueState& before) {
    const CatalogueState after = ReadCatalogueState(source);
    EXPECT_EQ(after.filelist, before.filelist) << "table filelist changed";
    EXPECT_EQ(after.arrival, before.arrival) << "table arrival changed";
    EXPECT_EQ(after.origin, before.origin) << "table origin changed";
    if (source.GetBackend() == Backend::Sqlite) {
        EXPECT_FALSE(before.fileBytes.empty());
        EXPECT_TRUE(after.fileBytes == before.fileBytes) << "the SQLite file changed";
    }
}

// The run ended by itself, without a signal and without a sanitizer's complaint.
void ExpectCleanEnd(const ProcessResult& result) {
    EXPECT_FALSE(result.timedOut) << "killed after " << TIME_LIMIT_SECONDS << " s";
    EXPECT_EQ(result.signal, 0) << "ended by signal " << result.signal;
    for (const char* report : SANITIZER_REPORTS)
        EXPECT_EQ(result.errors.find(report), std::string::npos) << result.errors;
}

// The column of a pick at time in a row showing [start, start + 600] on 700 pixels.
int PickColumn(double time, double start) {
    return static_cast<int>(1.0 + 698.0 * (time - start) / 600.0);
}

class BadInputRuns : public BackendRun {
protected:
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        folder->SetTimeLimit(TIME_LIMIT_SECONDS);
    }

    // The run's file of the catalogue with the archive's data directory, then sections.
    std::string WaveIni(const std::string& sections, const std::string& dataDir = "") const {
        return "[DATA]\nDIR=" + (dataDir.empty() ? folder->DataDir() : dataDir) +
               "\n\n[DATABASE]\nODBC=" + source->Dsn() + "\nUSER=" + source->User() +
               "\nPASSWORD=" + source->Password() + "\n\n" + sections;
    }

    // The segment file of station and channel under the data directory.
    std::string SegmentPath(const std::string& station, const std::string& channel) const {
        return folder->DataDir() + "/" + station + "/" + station + "_" + channel + ".dat";
    }

    // Writes samples to the segment file of station and channel and returns a sound row for
    // it, starting at tbegin with datatype 3 and foff headerBytes.
    FileRow FloatSegment(const std::string& station, const std::string& channel, double tbegin,
                         const std::vector<float>& samples, int headerBytes = HEADER_BYTES) const {
        WriteBytes(SegmentPath(station, channel), FloatBytes(samples, headerBytes));
        return FileRow{SqlLiteral(station),
                       SqlLiteral(channel),
                       SqlNumber(tbegin),
                       SqlNumber(static_cast<double>(samples.size()) / SPS),
                       SqlNumber(SPS),
                       SqlLiteral(station + "\\" + station + "_" + channel + ".dat"),
                       "3",
                       std::to_string(headerBytes)};
    }

    // A sound row of ten minutes of sine from the first day's window start.
    FileRow SineSegment(const std::string& station, const std::string& channel = "BHZ") const {
        return FloatSegment(station, channel, ARCHIVE_START, Sine(600));
    }
};

// Runs every case in order; every run must end cleanly and leave the catalogue as it was.
class BadInputTable {
public:
    BadInputTable(const RunFolder& runFolder, TestDataSource& dataSource,
                  std::function<std::string(const std::string&)> waveIni)
        : folder(runFolder), source(dataSource), makeIni(std::move(waveIni)) {}

    void Run(const BadInput& c, const CatalogueState& catalogue) {
        SCOPED_TRACE(c.name);
        for (const std::string& name : folder.WorkFiles())
            std::filesystem::remove_all(folder.WorkFile(name));
        folder.WriteWorkFile("wave.ini", makeIni(c.sections));
        if (c.prepare)
            c.prepare();
        const std::vector<std::string> filesBefore = folder.WorkFiles();
        const ProcessResult result = folder.Run(c.arguments);
        ++runs;
        ExpectCleanEnd(result);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.status, c.status);
        // A failed export still leaves its picture.
        if (c.picture.geometry.rowCount > 0)
            ExpectPicture(c);
        else
            EXPECT_EQ(folder.WorkFiles(), filesBefore) << "no file written";
        ExpectCatalogueUnchanged(source, catalogue);
    }

    int Runs() const { return runs; }

private:
    void ExpectPicture(const BadInput& c) {
        const Picture& expected = c.picture;
        const std::string path = folder.WorkFile("OUT.GIF");
        const std::string bytes = ReadFileBytes(path);
        images[c.name] = bytes;
        ASSERT_EQ(bytes.substr(0, 6), "GIF87a") << path;
        EXPECT_TRUE(GifIsInterlaced(bytes));
        if (!expected.sameAs.empty()) {
            const auto other = images.find(expected.sameAs);
            ASSERT_NE(other, images.end()) << expected.sameAs << " has not run";
            EXPECT_TRUE(bytes == other->second) << "differs from " << expected.sameAs;
        }
        const GifPicture picture(path);
        ASSERT_TRUE(picture.IsLoaded());
        const PlotGeometry& geometry = expected.geometry;
        EXPECT_EQ(picture.Width(), expected.width);
        ASSERT_EQ(picture.Height(), geometry.height);
        ASSERT_EQ(static_cast<int>(expected.rows.size()), geometry.rowCount);
        for (int row = 0; row < geometry.rowCount; ++row)
            ExpectRowLook(picture, geometry, row, expected.rows[static_cast<std::size_t>(row)]);
        for (const Mark& mark : expected.marks) {
            const int x = PickColumn(mark.time, ARCHIVE_START);
            const int top = geometry.RowTop(mark.row);
            EXPECT_EQ(picture.CountColour(TEXT_COLOUR, x, top + 2, x, top + geometry.rowHeight - 2),
                      mark.shown ? geometry.rowHeight - 3 : 0)
                << "mark of row " << mark.row << " at column " << x;
        }
    }

    const RunFolder& folder;
    TestDataSource& source;
    std::function<std::string(const std::string&)> makeIni;
    std::map<std::string, std::string> images;
    int runs = 0;
};

TEST_P(BadInputRuns, EndWithTheirMessageOrAnImageAndNeverWriteTheCatalogue) {
    // ABEL and BORA: ten minutes of vertical channel in two files each, and one event whose
    // picks lie at ABEL 10:05:22 and BORA 10:05:50, so that ABEL is drawn before BORA and
    // after every station without picks.
    ASSERT_TRUE(folder->Generate({"--stations", "2", "--channels", "BHZ", "--span", "600",
                                  "--segment", "300", "--sps", "20", "--events", "1", "--seed", "5",
                                  "--datatype", "3", "--header", "16"}));

    // One station per bad row; each holds ten minutes of sine unless said otherwise. Rows
    // whose tqty reaches far into the future are on a horizontal channel, so that they stay
    // out of the second day's station listing.
    const double t0 = ARCHIVE_START;
    std::string sql;
    FileRow row = SineSegment("SPS0");
    row.sps = "0";
    sql += row.Insert();
    row = SineSegment("SPSN");
    row.sps = "-20";
    sql += row.Insert();
    row = SineSegment("SPSH");
    row.sps = "1e12";
    sql += row.Insert();
    row = SineSegment("TQNG");
    row.tqty = "-300";
    sql += row.Insert();
    row = SineSegment("TQHG", "HHN");
    row.tqty = "1e12";
    sql += row.Insert();
    row = SineSegment("TQHB", "HHN");
    row.tbegin = SqlNumber(t0 - 1e6);
    row.tqty = "1e12";
    sql += row.Insert();
    row = SineSegment("FOFB");
    row.foff = "2147483647";
    sql += row.Insert();
    row = SineSegment("FOFN");
    row.foff = "-16";
    sql += row.Insert();
    // A folder, a FIFO (opening one for reading would wait for a writer), the data
    // directory itself, and a file beside the data directory reached with "..".
    std::filesystem::create_directories(folder->DataDir() + "/CDIR");
    row = SineSegment("CDIR");
    row.cpath = SqlLiteral("CDIR");
    sql += row.Insert();
    std::filesystem::create_directories(folder->DataDir() + "/CFIF");
    ASSERT_EQ(mkfifo((folder->DataDir() + "/CFIF/pipe").c_str(), 0600), 0);
    row = SineSegment("CFIF");
    row.cpath = SqlLiteral("CFIF\\pipe");
    sql += row.Insert();
    row = SineSegment("CEMP");
    row.cpath = SqlLiteral("");
    sql += row.Insert();
    WriteBytes(folder->DataDir() + "/../outside/CESC_BHZ.dat", FloatBytes(Sine(600), HEADER_BYTES));
    row = SineSegment("CESC");
    row.cpath = SqlLiteral("..\\outside\\CESC_BHZ.dat");
    sql += row.Insert();
    // The catalogue promises ten minutes, the file holds five.
    row = FloatSegment("LONG", "BHZ", t0, Sine(300));
    row.tqty = "600";
    sql += row.Insert();
    // Truncated between two runs.
    sql += SineSegment("TRNC").Insert();
    // Float samples no instrument records.
    std::vector<float> samples = Sine(600);
    for (std::size_t i = 0; i < samples.size(); i += 7)
        samples[i] = std::numeric_limits<float>::quiet_NaN();
    sql += FloatSegment("FNAN", "BHZ", t0, samples).Insert();
    samples = Sine(600);
    samples[3000] = std::numeric_limits<float>::infinity();
    samples[9000] = -std::numeric_limits<float>::infinity();
    sql += FloatSegment("FINF", "BHZ", t0, samples).Insert();
    samples = Sine(600);
    for (float& sample : samples) sample *= 1e35f;
    samples[4000] = FLT_MAX;
    samples[8000] = -FLT_MAX;
    sql += FloatSegment("FBIG", "BHZ", t0, samples).Insert();
    sql += FloatSegment("FALL", "BHZ", t0,
                        std::vector<float>(12000, std::numeric_limits<float>::quiet_NaN()))
               .Insert();
    // NULL in each column of filelist, one row at a time; station and channel on the second
    // day, where only the station listing meets them.
    row = SineSegment("NTBG");
    row.tbegin = "NULL";
    sql += row.Insert();
    row = SineSegment("NTQT");
    row.tqty = "NULL";
    sql += row.Insert();
    row = SineSegment("NSPS");
    row.sps = "NULL";
    sql += row.Insert();
    row = SineSegment("NCPA");
    row.cpath = "NULL";
    sql += row.Insert();
    row = SineSegment("NDTY");
    row.datatype = "NULL";
    sql += row.Insert();
    row = FloatSegment("NFOF", "BHZ", t0, Sine(600), 0);
    row.foff = "NULL";
    sql += row.Insert();
    sql += FloatSegment("DAYB", "BHZ", SECOND_DAY, Sine(600)).Insert();
    sql += FloatSegment("O'K", "BHZ", SECOND_DAY, Sine(600)).Insert();
    row = FloatSegment("NSTA", "BHZ", SECOND_DAY, Sine(600));
    row.sta = "NULL";
    sql += row.Insert();
    row = FloatSegment("NOCH", "BHZ", SECOND_DAY, Sine(600));
    row.ch = "NULL";
    sql += row.Insert();
    // NULL in each column of arrival, one row at a time: only the pick without an event id
    // is whole.
    sql += SineSegment("PKNL").Insert();
    const std::string bhz = SqlLiteral("BHZ");
    const std::string pknl = SqlLiteral("PKNL");
    const std::string event = SqlLiteral("EPK");
    sql += ArrivalRow(pknl, bhz, "NULL", SqlNumber(t0 + 120), "1.0", event);
    sql += ArrivalRow(pknl, bhz, SqlLiteral("P"), SqlNumber(t0 + 180), "NULL", event);
    sql += ArrivalRow(pknl, bhz, SqlLiteral("P"), "NULL", "1.0", event);
    sql += ArrivalRow("NULL", bhz, SqlLiteral("P"), SqlNumber(t0 + 240), "1.0", event);
    sql += ArrivalRow(pknl, "NULL", SqlLiteral("P"), SqlNumber(t0 + 300), "1.0", event);
    sql += ArrivalRow(pknl, bhz, SqlLiteral("S"), SqlNumber(t0 + 360), "1.0", "NULL");
    // A station code and a phase with a quote.
    sql += SineSegment("Q'T").Insert();
    sql += ArrivalRow(SqlLiteral("Q'T"), bhz, SqlLiteral("P'"), SqlNumber(t0 + 200), "1.0", event);
    // Read while another process shrinks and restores it.
    sql += SineSegment("SHRK").Insert();
    ASSERT_TRUE(source->ExecuteSql(sql));

    const CatalogueState catalogue = ReadCatalogueState(*source);
    ASSERT_FALSE(catalogue.filelist.empty());
    ASSERT_FALSE(catalogue.arrival.empty());
    ASSERT_FALSE(catalogue.origin.empty());

    const PlotGeometry two = GeometryFor(2, false);
    const PlotGeometry four = GeometryFor(4, false);
    const std::string dsn = source->Dsn();
    const std::vector<std::string> login = {"odbc=" + dsn, "user=" + source->User(),
                                            "password=" + source->Password()};
    // A bad station without picks is drawn first, ABEL after it.
    auto badRow = [&](const std::string& name, const std::string& station, Look look) {
        return Image(name, Stations({station, "ABEL"}), FIRST_DAY, two, {look, Look::DRAWN});
    };
    // Between two stations without data, so that a line leaving its band shows.
    auto fenced = [&](const std::string& name, const std::string& station, Look look,
                      const std::string& more = "") {
        return Image(name, Stations({"NONE", station, "NONE", "ABEL"}, more), FIRST_DAY, four,
                     {Look::EMPTY, look, Look::EMPTY, Look::DRAWN});
    };

    std::vector<BadInput> cases = {
        Image("a sound run", Stations({"ABEL", "BORA"}), FIRST_DAY, two,
              {Look::DRAWN, Look::DRAWN}),
        badRow("sps 0", "SPS0", Look::EMPTY),
        badRow("sps negative", "SPSN", Look::EMPTY),
        badRow("sps 1e12", "SPSH", Look::EMPTY),
        badRow("tqty negative", "TQNG", Look::EMPTY),
        badRow("tqty 1e12 from the window start", "TQHG/HHN", Look::DRAWN),
        badRow("tqty 1e12 from long before the window", "TQHB/HHN", Look::FLAT),
        badRow("foff beyond the file", "FOFB", Look::FLAT),
        badRow("foff negative", "FOFN", Look::FLAT),
        badRow("cpath naming a folder", "CDIR", Look::FLAT),
        badRow("cpath naming a FIFO", "CFIF", Look::FLAT),
        badRow("cpath empty", "CEMP", Look::FLAT),
        // The data directory confines the segment files: a path leading out of it is not
        // read.
        badRow("cpath escaping the data folder with ..", "CESC", Look::FLAT),
        badRow("tqty longer than the file", "LONG", Look::HALF),
        badRow("a file before it is truncated", "TRNC", Look::DRAWN),
        badRow("the same file truncated inside a sample", "TRNC", Look::HALF),
        fenced("float samples with NaN", "FNAN", Look::DRAWN),
        fenced("float samples with infinities", "FINF", Look::DRAWN),
        fenced("float samples with infinities, filtered", "FINF", Look::DRAWN, "filter=1,5\n"),
        fenced("float samples up to FLT_MAX", "FBIG", Look::DRAWN),
        fenced("float samples all NaN", "FALL", Look::EMPTY),
        badRow("NULL tbegin", "NTBG", Look::EMPTY),
        badRow("NULL tqty", "NTQT", Look::EMPTY),
        badRow("NULL sps", "NSPS", Look::EMPTY),
        badRow("NULL cpath", "NCPA", Look::EMPTY),
        badRow("NULL datatype", "NDTY", Look::FLAT),
        badRow("NULL foff", "NFOF", Look::DRAWN),
        // NULL station and NULL channel rows are never listed; O'K is, quote and all.
        Image("NULL station and channel in the station listing", "[WAVEFORMS]\nN#=ALL\n",
              SECOND_DAY_RUN, GeometryFor(2, true), {Look::DRAWN, Look::DRAWN}),
        // ABEL's first pick (10:05:22) comes before PKNL's only whole pick (10:06).
        Image("NULL in each column of arrival", Stations({"PKNL", "ABEL"}), FIRST_DAY, two,
              {Look::DRAWN, Look::DRAWN}),
        Image("a station code and a phase with a quote", Stations({"Q'T", "ABEL"}), FIRST_DAY, two,
              {Look::DRAWN, Look::DRAWN}),
        Image("a phase list naming the quoted phase", Stations({"Q'T", "ABEL"}, "PHASES=P'\n"),
              FIRST_DAY, two, {Look::DRAWN, Look::DRAWN}),
        Image("a phase list without the quoted phase", Stations({"Q'T", "ABEL"}, "PHASES=P\n"),
              FIRST_DAY, two, {Look::DRAWN, Look::DRAWN}),
        Image("PHASES=,,,", Stations({"Q'T", "ABEL"}, "PHASES=,,,\n"), FIRST_DAY, two,
              {Look::DRAWN, Look::DRAWN}),
        Image("a station code closing its literal", Stations({"X';DROP TABLE filelist;--", "ABEL"}),
              FIRST_DAY, two, {Look::EMPTY, Look::DRAWN}),
        Message("EVENTID=1;DROP TABLE origin", Stations({"ABEL"}),
                {"EVENTID=1;DROP TABLE origin", "/NOPREVIEW"},
                "Not found ID=1;DROP TABLE ORIGIN in database " + dsn + "!\n",
                SHELL_EVENT_NOT_FOUND),
        Message("ORID=1 or 1=1", Stations({"ABEL"}), {"ORID=1 or 1=1", "/NOPREVIEW"},
                "Not found ID=1 OR 1=1 in database " + dsn + "!\n", SHELL_EVENT_NOT_FOUND),
        Message("an event id closing its literal", Stations({"ABEL"}),
                {"eventid=x';delete from arrival;--", "/NOPREVIEW"},
                "Not found ID=X;DELETE FROM ARRIVAL;-- in database " + dsn + "!\n",
                SHELL_EVENT_NOT_FOUND),
        Message("an injected event id restricting the station listing", "[WAVEFORMS]\nN#=ALL\n",
                With(FIRST_DAY, {"eventid=1' or '1'='1"}), TOO_FEW_TRACES, SHELL_TRACE_COUNT),
        Message("SIZE=-5x-5", Stations({"ABEL", "BORA"}), With(FIRST_DAY, {"SIZE=-5x-5"}),
                "Invalid image size (SIZE=-5x-5)!\n", SHELL_WINDOW_SETTINGS),
        Message("SIZE=70000x500", Stations({"ABEL", "BORA"}), With(FIRST_DAY, {"SIZE=70000x500"}),
                "Invalid image size (SIZE=70000x500)!\n", SHELL_WINDOW_SETTINGS),
        // Every row keeps its minimum height of 20 pixels.
        Image("SIZE=1x1", Stations({"ABEL", "BORA"}), With(FIRST_DAY, {"SIZE=1x1"}),
              PlotGeometry{2, 20, 2 * 21 + 13 + 15}, {Look::EMPTY, Look::EMPTY}),
        Image("NSEC=1", Stations({"ABEL", "BORA"}),
              {"tbeg=10:00:00 02.03.2004", "nsec=1", "/NOPREVIEW"}, two,
              {Look::DRAWN, Look::DRAWN}),
        Message("NSEC=2147483647:1", Stations({"ABEL"}),
                {"tbeg=10:00:00 02.03.2004", "nsec=2147483647:1", "/NOPREVIEW"},
                "Too many rows (2147483647) for one image!\n", SHELL_WINDOW_SETTINGS),
        // A mistyped count is refused before any entry is read.
        Message("N#=2147483647", "[WAVEFORMS]\nN#=2147483647\n\n[STA0]\nSTA=ABEL\n", FIRST_DAY,
                "Too many rows (2147483647) for one image!\n", SHELL_WINDOW_SETTINGS),
        Message("a seconds field of 1e30", Stations({"ABEL"}),
                {"tbeg=10:00:1e30 02.03.2004", "nsec=600:60", "/NOPREVIEW"},
                "Invalid start time (TBEG=10:00:1E30 02.03.2004)!\n", SHELL_WINDOW_SETTINGS),
        // Ten minutes of 68 years fall into the first pixel column, which the picks of ABEL
        // and BORA would cover: two stations without picks.
        Image("NSEC=2147483647", Stations({"NFOF", "SHRK"}),
              {"tbeg=10:00:00 02.03.2004", "nsec=2147483647", "/NOPREVIEW"}, two,
              {Look::DRAWN, Look::DRAWN}),
        Image("NSEC=-2147483648", Stations({"ABEL", "BORA"}),
              {"tbeg=10:00:00 02.03.2004", "nsec=-2147483648", "/NOPREVIEW"}, two,
              {Look::EMPTY, Look::EMPTY}),
        // The segments are listed, but no file can be read: samples that stay 0.
        Image("a data folder that does not exist", Stations({"ABEL", "BORA"}),
              With(FIRST_DAY, {"data=/no/such/folder"}), two, {Look::FLAT, Look::FLAT}),
        Image("a data folder that is a file", Stations({"ABEL", "BORA"}),
              With(FIRST_DAY, {"data=" + folder->WorkFile("wave.ini")}), two,
              {Look::FLAT, Look::FLAT}),
        Message("an image folder that does not exist", Stations({"ABEL"}),
                With(FIRST_DAY, {"file=missing\\out.gif"}),
                "Cannot write image file MISSING\\OUT.GIF!\n", SHELL_IMAGE_WRITE),
        Message("an image path inside a file", Stations({"ABEL"}),
                With(FIRST_DAY, {"file=wave.ini\\out.gif"}),
                "Cannot write image file WAVE.INI\\OUT.GIF!\n", SHELL_IMAGE_WRITE),
        Message("an image path naming a folder", Stations({"ABEL"}),
                With(FIRST_DAY, {"file=pictures"}), "Cannot write image file PICTURES!\n",
                SHELL_IMAGE_WRITE),
        ExportFailure(Image("a wfdisc path that cannot be created", Stations({"ABEL", "BORA"}),
                            With(FIRST_DAY, {"css=missing\\rows.wfd"}), two,
                            {Look::DRAWN, Look::DRAWN})),
        Message("a run's file that is a folder", "", With(FIRST_DAY, login), TOO_FEW_TRACES,
                SHELL_TRACE_COUNT),
        Message("a run's file of binary garbage", "", With(FIRST_DAY, login), TOO_FEW_TRACES,
                SHELL_TRACE_COUNT),
        Image("a run's file with garbage between its sections", "", FIRST_DAY, two,
              {Look::DRAWN, Look::DRAWN}),
    };

    std::map<std::string, BadInput*> byName;
    for (BadInput& c : cases) byName[c.name] = &c;
    auto marks = [&](const std::string& name, std::vector<Mark> expected) {
        ASSERT_NE(byName.count(name), 0u) << name;
        byName[name]->picture.marks = std::move(expected);
    };
    auto sameAs = [&](const std::string& name, const std::string& other) {
        ASSERT_NE(byName.count(name), 0u) << name;
        byName[name]->picture.sameAs = other;
    };
    marks("NULL in each column of arrival", {{1, t0 + 120, false},
                                             {1, t0 + 180, false},
                                             {1, t0 + 240, false},
                                             {1, t0 + 300, false},
                                             {1, t0 + 360, true}});
    // Q'T's pick (10:03:20) comes before ABEL's; with only P' listed ABEL has no pick left
    // and moves to the front, with only P Q'T has none.
    marks("a station code and a phase with a quote", {{0, t0 + 200, true}});
    marks("a phase list naming the quoted phase", {{1, t0 + 200, true}});
    marks("a phase list without the quoted phase", {{0, t0 + 200, false}});
    sameAs("PHASES=,,,", "a station code and a phase with a quote");
    byName["SIZE=1x1"]->picture.width = 1;
    sameAs("a run's file with garbage between its sections", "a sound run");

    byName["the same file truncated inside a sample"]->prepare = [&] {
        std::filesystem::resize_file(SegmentPath("TRNC", "BHZ"), HEADER_BYTES + 6000 * 4 + 3);
    };
    byName["an image path naming a folder"]->prepare = [&] {
        std::filesystem::create_directories(folder->WorkFile("pictures"));
    };
    // Run as root, a file without permissions is still read, so the unreadable file is a
    // folder of that name.
    byName["a run's file that is a folder"]->prepare = [&] {
        std::filesystem::remove(folder->WorkFile("wave.ini"));
        std::filesystem::create_directories(folder->WorkFile("wave.ini"));
    };
    byName["a run's file of binary garbage"]->prepare = [&] {
        folder->WriteWorkFile("wave.ini", Garbage(8192, 7) + std::string(100000, 'A') +
                                              "\n[\n=\n[WAVEFORMS\nN#\n" + Garbage(4096, 8));
    };
    byName["a run's file with garbage between its sections"]->prepare = [&] {
        // Garbage only right before a section's name, where it cannot end that section.
        std::string text;
        const std::string sound = WaveIni(Stations({"ABEL", "BORA"}));
        std::uint32_t seed = 11;
        std::size_t start = 0;
        for (std::size_t open = sound.find('['); open != std::string::npos;
             open = sound.find('[', open + 1)) {
            text += sound.substr(start, open - start) + Garbage(2048, seed++) + "\n";
            start = open;
        }
        folder->WriteWorkFile("wave.ini", text + sound.substr(start));
    };

    BadInputTable table(*folder, *source,
                        [this](const std::string& sections) { return WaveIni(sections); });
    std::vector<Look> hundreds(298, Look::EMPTY);
    hundreds.push_back(Look::DRAWN);
    hundreds.push_back(Look::DRAWN);
    cases.push_back(Image("300 configured rows, most without a station",
                          "[WAVEFORMS]\nN#=300\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n",
                          FIRST_DAY, GeometryFor(300, false), hundreds));
    // A run's file without permissions stops only an ordinary user.
    if (geteuid() != 0) {
        BadInput unreadable = Message("a run's file without permissions", "",
                                      With(FIRST_DAY, login), TOO_FEW_TRACES, SHELL_TRACE_COUNT);
        unreadable.prepare = [&] { chmod(folder->WorkFile("wave.ini").c_str(), 0); };
        cases.push_back(unreadable);
    }
    for (const BadInput& c : cases) table.Run(c, catalogue);

    // A file that shrinks and grows back while the runs read it: every run must still end
    // with a whole image, whatever part of the file it met.
    {
        SCOPED_TRACE("a file shrinking while it is read");
        const std::string path = SegmentPath("SHRK", "BHZ");
        const std::string full = ReadFileBytes(path);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            const int file = open(path.c_str(), O_WRONLY);
            if (file < 0)
                return;
            std::size_t size = HEADER_BYTES + 3;
            while (!stop) {
                // Sizes that cut a sample in two, all over the file.
                size = (size + 4 * 1237) % full.size();
                if (ftruncate(file, static_cast<off_t>(size)) != 0 ||
                    pwrite(file, full.data(), full.size(), 0) < 0)
                    break;
                usleep(200);
            }
            close(file);
        });
        BadInput shrinking = badRow("a file shrinking while it is read", "SHRK", Look::DRAWN);
        for (int run = 0; run < 5; ++run) {
            folder->WriteWorkFile("wave.ini", WaveIni(shrinking.sections));
            const ProcessResult result = folder->Run(shrinking.arguments);
            ExpectCleanEnd(result);
            EXPECT_EQ(result.output, "");
            EXPECT_EQ(result.status, SHELL_OK);
            const GifPicture picture(folder->WorkFile("OUT.GIF"));
            ASSERT_TRUE(picture.IsLoaded());
            EXPECT_EQ(picture.Height(), two.height);
            ExpectRowLook(picture, two, 1, Look::DRAWN);
        }
        stop = true;
        writer.join();
    }

    // After the whole table the catalogue is as it was, row for row and byte for byte.
    ExpectCatalogueUnchanged(*source, catalogue);
    std::printf("%d bad-input runs on %s\n", table.Runs() + 5, BackendName(GetParam()));
}

TEST_P(BadInputRuns, LookUpEventsPastOriginsWithANullColumn) {
    // ABEL picked event E1 (orid 5000) at 10:05 and event E2 at 10:06:40; the later origin,
    // E2's, has one column NULL in each case.
    const double t0 = ARCHIVE_START;
    const std::string abel = SqlLiteral("ABEL");
    const std::string bhz = SqlLiteral("BHZ");
    ASSERT_TRUE(source->ExecuteSql(
        SineSegment("ABEL").Insert() +
        ArrivalRow(abel, bhz, SqlLiteral("P"), SqlNumber(t0 + 300), "1.0", SqlLiteral("E1")) +
        ArrivalRow(abel, bhz, SqlLiteral("P"), SqlNumber(t0 + 400), "1.0", SqlLiteral("E2"))));
    const std::string later = SqlNumber(t0 + 350);
    struct Case {
        std::string column;
        std::string origin;  // the values of E2's origin row
        std::vector<std::string> arguments;
        std::string output;  // empty for an image
    };
    const std::string dsn = source->Dsn();
    const std::string lastNotFound = "Not found ID=LAST in database " + dsn + "!\n";
    const std::vector<std::string> last = {"eventid=last", "/SHOWEVENT", "/NOPREVIEW"};
    const Case cases[] = {
        {"orid", "NULL, 'E2', 47.5, 15.5, " + later, last, lastNotFound},
        {"orid, looked up by the event id",
         "NULL, 'E2', 47.5, 15.5, " + later,
         {"eventid=e2", "/NOPREVIEW"},
         ""},
        {"eventid", "5001, NULL, 47.5, 15.5, " + later, last,
         "Not found ID=5001 in database " + dsn + "!\n"},
        {"eventid, looked up by the orid",
         "5001, NULL, 47.5, 15.5, " + later,
         {"orid=5001", "/NOPREVIEW"},
         "Not found ID=5001 in database " + dsn + "!\n"},
        {"lat", "5001, 'E2', NULL, 15.5, " + later, last, lastNotFound},
        {"lon", "5001, 'E2', 47.5, NULL, " + later, last, lastNotFound},
        // Without a time it is never the latest: E1 is.
        {"origintime", "5001, 'E2', 47.5, 15.5, NULL", last, ""},
    };
    BadInputTable table(*folder, *source,
                        [this](const std::string& sections) { return WaveIni(sections); });
    for (const Case& c : cases) {
        ASSERT_TRUE(source->ExecuteSql(
            "delete from origin; insert into origin (orid, eventid, lat, lon, origintime) "
            "values (5000, 'E1', 47.0, 15.0, " +
            SqlNumber(t0 + 250) +
            "); insert into origin (orid, eventid, lat, lon, origintime) values (" + c.origin +
            ")"));
        const std::string name = "NULL " + c.column;
        const BadInput run =
            c.output.empty()
                ? Image(name, Stations({"ABEL"}), c.arguments, GeometryFor(1, false), {Look::DRAWN})
                : Message(name, Stations({"ABEL"}), c.arguments, c.output, SHELL_EVENT_NOT_FOUND);
        table.Run(run, ReadCatalogueState(*source));
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, BadInputRuns, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
