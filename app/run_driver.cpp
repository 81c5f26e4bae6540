#include "app/run_driver.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/profile_settings.h"
#include "app/rows.h"
#include "app/sds_source.h"
#include "app/settings.h"
#include "app/text_scan.h"
#include "app/time_window.h"
#include "archive/catalogue.h"
#include "description/image_description.h"
#include "mseed/mseed_writer.h"
#include "platform/atomic_file.h"
#include "platform/folder_lock.h"
#include "platform/host_path.h"
#include "plot/annotations.h"
#include "plot/plot_output.h"
#include "web/index_page.h"

namespace {

// Seconds a run waits for another that writes into the same folder before it gives up.
constexpr int LOCK_WAIT_SECONDS = 300;

// Age in seconds from which a temporary file is taken for one a killed run left: a day, far
// longer than any run writes one file.
constexpr long STALE_TEMPORARY_SECONDS = 86400;

// Refuses what cannot become a picture or a time before the catalogue is contacted.
// Returns 0, or -2 after printing a message.
int CheckRunSettings(const Settings& settings) {
    // An empty start text means an event lookup, whose own start text is always valid.
    if (!settings.startText.empty() && !IsCurrentStart(settings.startText) &&
        IsValidStartText(settings.startText) != 1) {
        std::printf("Invalid start time (TBEG=%s)!\n", settings.startText.c_str());
        return STATUS_WINDOW_SETTINGS;
    }
    // The requested height only seeds the row height, so any height up to the GIF limit
    // gives a valid image; the width is the image's own.
    if (settings.imageWidth < 1 || settings.imageWidth > MAX_IMAGE_SIDE ||
        settings.imageHeight > MAX_IMAGE_SIDE) {
        std::printf("Invalid image size (SIZE=%dx%d)!\n", settings.imageWidth,
                    settings.imageHeight);
        return STATUS_WINDOW_SETTINGS;
    }
    return STATUS_OK;
}

// Refuses, before the catalogue is opened, a window that a run writing a description (or the
// web page built from it) could not describe: one that begins or ends outside the years
// 1 to 9999. An event's window and the current one are settled later and lie well inside
// them. Returns 0, or -2 after printing the start-time message.
int CheckDescribedWindow(const Settings& settings) {
    if ((!settings.writeJson && !settings.writeHtml) || settings.startText.empty() ||
        IsCurrentStart(settings.startText))
        return STATUS_OK;
    Settings planned = settings;
    const TimeWindow window = ComputeWindow(planned);
    if (IsWritableTime(window.start) && IsWritableTime(window.start + window.length))
        return STATUS_OK;
    std::printf("Invalid start time (TBEG=%s)!\n", settings.startText.c_str());
    return STATUS_WINDOW_SETTINGS;
}

// Returns true when text is a SEED network or location code: at most two letters or digits.
bool IsSeedCode(const std::string& text) {
    if (text.size() > 2)
        return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// Settles the miniSEED export's header codes and record length from the settings. Returns 0,
// or -2 after printing which setting is invalid.
int CheckMseedSettings(const Settings& settings, MseedSettings& mseed) {
    const char* invalidKey = nullptr;
    const std::string* invalidText = nullptr;
    char* end = nullptr;
    const long recordLength = std::strtol(settings.mseedRecordLength.c_str(), &end, 10);
    if (settings.mseedRecordLength.empty() || *end != '\0' || !IsValidRecordLength(recordLength)) {
        invalidKey = "RECLEN";
        invalidText = &settings.mseedRecordLength;
    } else if (!IsSeedCode(settings.mseedNetwork)) {
        invalidKey = "NET";
        invalidText = &settings.mseedNetwork;
    } else if (!IsSeedCode(settings.mseedLocation)) {
        invalidKey = "LOC";
        invalidText = &settings.mseedLocation;
    }
    if (invalidKey != nullptr) {
        std::printf("Invalid miniSEED setting (%s=%s)!\n", invalidKey, invalidText->c_str());
        return STATUS_WINDOW_SETTINGS;
    }
    // The writer upper-cases every code it puts in a header.
    mseed.network = settings.mseedNetwork;
    mseed.location = settings.mseedLocation;
    mseed.recordLength = static_cast<int>(recordLength);
    return STATUS_OK;
}

// Refuses a picture that cannot fit one image before the catalogue is opened, where the row
// count is known that early: from a numeric N#, or from the window in segment mode. A count
// from the catalogue is checked once it is listed, and a count below one gets its own
// message later. Returns 0, or -2 after printing a message.
int CheckPlannedRows(const Settings& settings) {
    const std::string traceCountText = ReadTraceCountText(settings);
    const bool catalogueList = traceCountText == "ALL";
    long long rows = 0;
    if (settings.segmentSeconds > 0)
        rows = std::llabs(static_cast<long long>(settings.windowSeconds)) / settings.segmentSeconds;
    else if (!catalogueList)
        rows = TraceCountFromText(traceCountText);
    if (rows < 1)
        return STATUS_OK;
    return CheckImageFits(settings, static_cast<int>(std::min<long long>(rows, INT_MAX)),
                          catalogueList);
}

// Draws the header, the time axis and the border around the finished rows.
void DrawFrame(const Settings& settings, const TimeWindow& window, const EventInfo* event,
               PlotRows& rows) {
    gdImagePtr image = rows.image.get();
    const bool segmentMode = settings.segmentSeconds > 0;
    if (settings.showLabels) {
        const StationEntry& last = rows.entries.back();
        DrawPlotHeader(image, rows.palette, rows.layout, window.start, settings.windowSeconds,
                       segmentMode, last.station, last.channel, rows.lastRowBand, event);
        const int axisSeconds = segmentMode ? settings.segmentSeconds : window.length;
        DrawTimeAxis(image, rows.palette.black, window.start, window.start + axisSeconds, 0,
                     rows.layout.width, rows.layout.height - 15);
    }
    DrawPlotBorder(image, rows.palette, rows.layout);
}

// Returns the name of the image's description: the output name with its extension replaced
// by ".json" (added when it has none).
std::string DescriptionFileName(const std::string& outputFile) {
    const std::size_t folder = outputFile.find_last_of("\\/");
    const std::size_t dot = outputFile.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folder == std::string::npos || dot > folder);
    return (hasExtension ? outputFile.substr(0, dot) : outputFile) + ".json";
}

// Returns the host folder of the image (".", or a path ending in "/") and its file name.
std::pair<std::string, std::string> ImageFolderAndName(const Settings& settings) {
    const std::string image = MapHostPath(settings.outputFile);
    const std::size_t slash = image.find_last_of('/');
    if (slash == std::string::npos)
        return {".", image};
    return {image.substr(0, slash + 1), image.substr(slash + 1)};
}

// Fills the parts of the description that the rows do not: the image and its window, and
// the event when it is known.
void CompleteDescription(const Settings& settings, const TimeWindow& window, const EventInfo* event,
                         PlotRows& rows) {
    ImageDescription& d = rows.description;
    d.imageFile = ImageFolderAndName(settings).second;
    d.format = NamesPng(settings.outputFile) ? "png" : "gif";
    d.width = rows.layout.width;
    d.height = rows.layout.height;
    d.windowStart = window.start;
    d.windowEnd = window.start + settings.windowSeconds;
    d.windowSeconds = settings.windowSeconds;
    d.segmentMode = settings.segmentSeconds > 0;
    d.segmentSeconds = settings.segmentSeconds;
    d.eventKnown = event != nullptr;
    if (event != nullptr) {
        d.eventId = settings.eventId;
        d.eventOrid = event->orid;
        d.eventOriginTime = event->originTime;
        d.eventLatitude = event->lat;
        d.eventLongitude = event->lon;
    }
}

// Writes the description beside the image, whole or not at all. Returns true when written;
// false after telling the user on standard error.
bool WriteDescriptionFile(const Settings& settings, const ImageDescription& description) {
    const std::string name = DescriptionFileName(settings.outputFile);
    AtomicFile file(MapHostPath(name));
    if (file.IsOpen() && WriteImageDescription(file.Stream(), description) && file.Commit())
        return true;
    std::fprintf(stderr, "Cannot write description file %s!\n", name.c_str());
    return false;
}

// Returns the folder of the pictures as the page at pagePath (a host path) reaches it: empty
// when the page lies in it, else a relative reference whose names each end in '/'. Both are
// taken from the working folder and compared by their names, as a browser resolves a
// relative reference; an absolute one is the fallback where no relative one exists.
std::string PictureFolderFromPage(const std::string& pictureFolder, const std::string& pagePath) {
    namespace fs = std::filesystem;
    // Only an unknown working folder fails here; the page then refers as it always did.
    std::error_code pictureError;
    std::error_code pageError;
    const fs::path pictures = fs::absolute(pictureFolder, pictureError).lexically_normal();
    const fs::path page = fs::absolute(pagePath, pageError).lexically_normal().parent_path();
    if (pictureError || pageError)
        return "";
    fs::path relative = pictures.lexically_relative(page);
    if (relative.empty())
        relative = pictures;
    std::string text = relative.generic_string();
    if (text.empty() || text == "." || text == "./")
        return "";
    if (text.back() != '/')
        text += '/';
    return text;
}

// Returns the name of the web page as the user gave it, or its default.
std::string WebPageName(const Settings& settings) {
    return settings.webIndex.empty() ? "index.html" : settings.webIndex;
}

// Returns the host path of the web page: a bare file name goes into the image's folder.
std::string WebPagePath(const Settings& settings) {
    const std::string folder = ImageFolderAndName(settings).first;
    std::string path = MapHostPath(WebPageName(settings));
    if (path.find('/') == std::string::npos)
        path = (folder == "." ? "./" : folder) + path;
    return path;
}

// Returns the file a host path names, absolute and with its folders' links followed, so that
// two names of one file compare equal; the path as it is when that cannot be worked out.
std::string SameFileKey(const std::string& hostPath) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(hostPath, error);
    if (error)
        return hostPath;
    const std::filesystem::path key = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : key.string();
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Returns the name without its extension (the part from the last dot), in lower case.
std::string LowerStem(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return LowerCase(dot == std::string::npos ? name : name.substr(0, dot));
}

// Refuses, before the catalogue is opened, output names that would overwrite one another: any
// two of the image, its description, the web page, the miniSEED file and the CSS wfdisc file
// naming one file; and, when a description is written, another picture in the image's folder
// whose name differs only in its extension or case, whose description would be the same file.
// Returns 0, or -2 after printing the two names.
int CheckOutputNames(const Settings& settings) {
    std::vector<std::pair<std::string, std::string>> outputs = {
        {settings.outputFile, MapHostPath(settings.outputFile)}};
    if (settings.writeJson) {
        const std::string description = DescriptionFileName(settings.outputFile);
        outputs.emplace_back(description, MapHostPath(description));
    }
    if (settings.writeHtml)
        outputs.emplace_back(WebPageName(settings), WebPagePath(settings));
    if (settings.mseedEnabled)
        outputs.emplace_back(settings.mseedFile, MapHostPath(settings.mseedFile));
    if (settings.cssEnabled)
        outputs.emplace_back(settings.cssFile, MapHostPath(settings.cssFile));
    for (auto& output : outputs) output.second = SameFileKey(output.second);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if (outputs[i].second == outputs[j].second) {
                std::printf("Output file names collide (%s and %s)!\n", outputs[i].first.c_str(),
                            outputs[j].first.c_str());
                return STATUS_WINDOW_SETTINGS;
            }
        }
    }
    if (!settings.writeJson)
        return STATUS_OK;
    const auto [folder, image] = ImageFolderAndName(settings);
    // Stepped with an error code: a folder that cannot be read holds no other picture to
    // check, and its write fails later with its own message.
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const std::string extension = LowerCase(entry->path().extension().string());
        if (name != image && (extension == ".gif" || extension == ".png") &&
            LowerStem(name) == LowerStem(image)) {
            std::printf("Output file names collide (%s and %s)!\n", settings.outputFile.c_str(),
                        name.c_str());
            return STATUS_WINDOW_SETTINGS;
        }
    }
    return STATUS_OK;
}

// Takes the lock of the image's folder for the run's writes, and removes what runs killed
// while writing left in the folders written to. Returns 0 (also when the folder takes no lock
// file: the writes then fail on their own), or -7 after printing a message when another run
// kept the lock for the whole wait.
int LockOutputs(const Settings& settings, FolderLock& lock) {
    const std::string folder = ImageFolderAndName(settings).first;
    if (lock.Acquire(folder, LOCK_WAIT_SECONDS) == 0) {
        std::printf("Output folder %s is in use by another run!\n", folder.c_str());
        return STATUS_EXPORT_WRITE;
    }
    std::vector<std::string> folders = {folder};
    if (settings.writeHtml)
        folders.push_back(WebPagePath(settings));
    if (settings.mseedEnabled)
        folders.push_back(MapHostPath(settings.mseedFile));
    if (settings.cssEnabled)
        folders.push_back(MapHostPath(settings.cssFile));
    for (std::size_t i = 1; i < folders.size(); ++i) {
        const std::size_t slash = folders[i].find_last_of('/');
        folders[i] = slash == std::string::npos ? "." : folders[i].substr(0, slash + 1);
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& written : folders)
        RemoveStaleTemporaries(written, STALE_TEMPORARY_SECONDS);
    return STATUS_OK;
}

// Rebuilds the web page of the image's folder from every description in it. Returns true when
// written; false after telling the user on standard error. Files that are no descriptions
// are named on standard error and left out.
bool WriteWebPage(const Settings& settings) {
    const std::string folder = ImageFolderAndName(settings).first;
    const std::string name = WebPageName(settings);
    const std::string path = WebPagePath(settings);

    PageSettings page;
    page.title = settings.webTitle;
    page.refreshSeconds = settings.webRefresh;
    page.pictureFolder = PictureFolderFromPage(folder, path);
    PageContents contents;
    const std::string html = BuildIndexPage(folder, page, contents);
    for (const std::string& skipped : contents.skipped)
        std::fprintf(stderr, "Skipping %s: not an image description of trazplot\n",
                     skipped.c_str());
    AtomicFile file(path);
    if (file.IsOpen() && std::fwrite(html.data(), 1, html.size(), file.Stream()) == html.size() &&
        file.Commit())
        return true;
    std::fprintf(stderr, "Cannot write web page %s!\n", name.c_str());
    return false;
}

}  // namespace

int RunProgram(int argc, char** argv) {
    Settings settings;
    if (!ParseCommandLine(argc, argv, settings)) {
        PrintUsage();
        return STATUS_USAGE;
    }
    RemoveTemporariesOnSignals();
    settings.systemIniFile = SystemIniFilePath();
    int status = LoadProfileSettings(settings);
    if (status != STATUS_OK)
        return status;
    PlotRows rows;
    status = CheckRunSettings(settings);
    if (status == STATUS_OK)
        status = CheckDescribedWindow(settings);
    if (status == STATUS_OK)
        status = CheckPlannedRows(settings);
    if (status == STATUS_OK && settings.mseedEnabled)
        status = CheckMseedSettings(settings, rows.exports.mseedSettings);
    if (status == STATUS_OK)
        status = CheckOutputNames(settings);
    if (status != STATUS_OK)
        return status;

    // The samples come from an SDS archive or from the catalogue's segment files, for the whole
    // run; an SDS run never opens the catalogue.
    Catalogue catalogue;
    SdsSource sdsSource;
    const SdsSource* sds = settings.sdsRoot.empty() ? nullptr : &sdsSource;
    if (sds != nullptr) {
        status = OpenSdsSource(settings, sdsSource);
        if (status != STATUS_OK)
            return status;
    } else if (catalogue.OpenCatalogue(settings.dsn, settings.dbUser, settings.dbPassword) != 1) {
        std::printf("Database open error (DSN=%s/USER=%s/PSW=%s)!", settings.dsn.c_str(),
                    settings.dbUser.c_str(), settings.dbPassword.c_str());
        return STATUS_DATABASE_OPEN;
    }

    EventInfo event{};
    bool eventKnown = false;
    if (settings.startText.empty()) {
        status = sds != nullptr ? ResolveSdsEvent(settings, sdsSource, event, eventKnown)
                                : ResolveEvent(settings, catalogue, event, eventKnown);
        if (status != STATUS_OK)
            return status;
    }
    const TimeWindow window = ComputeWindow(settings);
    LoadDisplaySettings(settings);

    // One run at a time writes into a folder, from its first write to its last rename; the
    // exports write while the rows are drawn, the image only once they are done.
    FolderLock lock;
    const bool exporting = settings.mseedEnabled || settings.cssEnabled;
    if (exporting) {
        status = LockOutputs(settings, lock);
        if (status != STATUS_OK)
            return status;
    }

    // The miniSEED records go to a temporary file that replaces the target once every row is
    // done: a run that ends early leaves an earlier file as it was.
    std::unique_ptr<AtomicFile> mseedFile;
    if (settings.mseedEnabled) {
        mseedFile = std::make_unique<AtomicFile>(MapHostPath(settings.mseedFile));
        rows.exports.mseed = mseedFile->Stream();
        if (!mseedFile->IsOpen()) {
            rows.exports.mseedFailed = true;
            PrintMseedWriteError(settings);
        }
    }
    status = RunRows(settings, catalogue, sds, window.start, window.length, rows);
    if (status != STATUS_OK)
        return status;
    rows.exports.mseed = nullptr;
    if (mseedFile && !rows.exports.mseedFailed && !mseedFile->Commit()) {
        rows.exports.mseedFailed = true;
        PrintMseedWriteError(settings);
    }
    DrawFrame(settings, window, settings.showEvent && eventKnown ? &event : nullptr, rows);
    if (!exporting) {
        status = LockOutputs(settings, lock);
        if (status != STATUS_OK)
            return status;
    }

    if (WritePlotImage(std::move(rows.image), settings.outputFile) != 1) {
        std::printf("Cannot write image file %s!\n", settings.outputFile.c_str());
        return STATUS_IMAGE_WRITE;
    }
    bool descriptionFailed = false;
    if (settings.writeJson) {
        CompleteDescription(settings, window, eventKnown ? &event : nullptr, rows);
        descriptionFailed = !WriteDescriptionFile(settings, rows.description);
    }
    if (settings.writeHtml && !WriteWebPage(settings))
        descriptionFailed = true;
    catalogue.CloseCatalogue();
    rows.entries.clear();
    if (settings.preview)
        PreviewPlotImage(settings.outputFile);
    const bool exportFailed =
        rows.exports.cssFailed || rows.exports.mseedFailed || descriptionFailed;
    return exportFailed ? STATUS_EXPORT_WRITE : STATUS_OK;
}
