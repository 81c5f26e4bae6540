#include "metadata/station_xml.h"

#include <pugixml.hpp>

#include "metadata/iso_time.h"
#include "metadata/xml_names.h"

namespace {

constexpr const char* STATION_NAMESPACE = "http://www.fdsn.org/xml/station/1";

// Reads one Station element of network into epoch. Returns false when it has no position or
// a date that cannot be read.
bool ReadStationEpoch(pugi::xml_node stationNode, const std::string& network, StationEpoch& epoch) {
    epoch.network = network;
    epoch.station = stationNode.attribute("code").value();
    // A missing date leaves the epoch open on that side; a date that cannot be read leaves
    // the epoch out, as it cannot be told which time it covers.
    const pugi::xml_attribute startDate = stationNode.attribute("startDate");
    if (startDate && ParseIsoTime(startDate.value(), epoch.startTime) != 0)
        return false;
    const pugi::xml_attribute endDate = stationNode.attribute("endDate");
    if (endDate && ParseIsoTime(endDate.value(), epoch.endTime) != 0)
        return false;
    if (ElementNumber(ChildElement(stationNode, STATION_NAMESPACE, "Latitude"), epoch.latitude) !=
            0 ||
        ElementNumber(ChildElement(stationNode, STATION_NAMESPACE, "Longitude"), epoch.longitude) !=
            0)
        return false;
    ElementNumber(ChildElement(stationNode, STATION_NAMESPACE, "Elevation"), epoch.elevation);
    return true;
}

}  // namespace

int ReadStationXml(const std::string& path, StationCoordinates& coordinates) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(path.c_str());
    if (!parsed)
        return 1;
    const pugi::xml_node root = document.document_element();
    if (!IsElement(root, STATION_NAMESPACE, "FDSNStationXML"))
        return 0;
    for (pugi::xml_node networkNode : root.children()) {
        if (!IsElement(networkNode, STATION_NAMESPACE, "Network"))
            continue;
        const std::string network = networkNode.attribute("code").value();
        for (pugi::xml_node stationNode : networkNode.children()) {
            if (!IsElement(stationNode, STATION_NAMESPACE, "Station"))
                continue;
            StationEpoch epoch;
            if (ReadStationEpoch(stationNode, network, epoch))
                coordinates.epochs.push_back(epoch);
        }
    }
    return 0;
}

int FindStationCoordinates(const StationCoordinates& coordinates, const std::string& network,
                           const std::string& station, double time, StationEpoch& epoch) {
    for (const StationEpoch& candidate : coordinates.epochs) {
        if (candidate.network == network && candidate.station == station &&
            candidate.startTime <= time && time < candidate.endTime) {
            epoch = candidate;
            return 0;
        }
    }
    return 1;
}
