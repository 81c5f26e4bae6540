#include "metadata/quake_ml.h"

#include <pugixml.hpp>

#include "metadata/iso_time.h"
#include "metadata/xml_names.h"

namespace {

constexpr const char* BED_NAMESPACE = "http://quakeml.org/xmlns/bed/1.2";

// Reads the value of a quantity element (time, latitude, ...) of parent. Returns 0 when read.
int ReadQuantity(pugi::xml_node parent, const char* name, double& value) {
    return ElementNumber(
        ChildElement(ChildElement(parent, BED_NAMESPACE, name), BED_NAMESPACE, "value"), value);
}

// Reads the time quantity of parent. Returns 0 when read.
int ReadTime(pugi::xml_node parent, double& time) {
    const pugi::xml_node value =
        ChildElement(ChildElement(parent, BED_NAMESPACE, "time"), BED_NAMESPACE, "value");
    return value ? ParseIsoTime(ElementText(value), time) : 1;
}

std::string ChildText(pugi::xml_node parent, const char* name) {
    return std::string(ElementText(ChildElement(parent, BED_NAMESPACE, name)));
}

// Reads origin element into event's origin and arrivals. Returns false when the origin lacks
// a time or position.
bool ReadOrigin(pugi::xml_node originNode, QuakeEvent& event) {
    QuakeOrigin origin;
    origin.publicId = originNode.attribute("publicID").value();
    if (ReadTime(originNode, origin.time) != 0 ||
        ReadQuantity(originNode, "latitude", origin.latitude) != 0 ||
        ReadQuantity(originNode, "longitude", origin.longitude) != 0)
        return false;
    ReadQuantity(originNode, "depth", origin.depth);
    event.origin = origin;
    event.hasOrigin = true;
    event.arrivals.clear();
    for (pugi::xml_node arrivalNode : originNode.children()) {
        if (!IsElement(arrivalNode, BED_NAMESPACE, "arrival"))
            continue;
        QuakeArrival arrival;
        arrival.pickId = ChildText(arrivalNode, "pickID");
        arrival.phase = ChildText(arrivalNode, "phase");
        ElementNumber(ChildElement(arrivalNode, BED_NAMESPACE, "distance"), arrival.distance);
        event.arrivals.push_back(arrival);
    }
    return true;
}

// Reads pick element. Returns false when it has no readable time.
bool ReadPick(pugi::xml_node pickNode, QuakePick& pick) {
    pick.publicId = pickNode.attribute("publicID").value();
    if (ReadTime(pickNode, pick.time) != 0)
        return false;
    const pugi::xml_node waveform = ChildElement(pickNode, BED_NAMESPACE, "waveformID");
    pick.network = waveform.attribute("networkCode").value();
    pick.station = waveform.attribute("stationCode").value();
    pick.location = waveform.attribute("locationCode").value();
    pick.channel = waveform.attribute("channelCode").value();
    pick.phaseHint = ChildText(pickNode, "phaseHint");
    return true;
}

QuakeEvent ReadEvent(pugi::xml_node eventNode) {
    QuakeEvent event;
    event.publicId = eventNode.attribute("publicID").value();
    const std::string preferredId = ChildText(eventNode, "preferredOriginID");
    pugi::xml_node preferred;
    pugi::xml_node first;
    for (pugi::xml_node child : eventNode.children()) {
        if (IsElement(child, BED_NAMESPACE, "origin")) {
            if (!first)
                first = child;
            if (!preferredId.empty() && preferredId == child.attribute("publicID").value())
                preferred = child;
        } else if (IsElement(child, BED_NAMESPACE, "pick")) {
            QuakePick pick;
            if (ReadPick(child, pick))
                event.picks.push_back(pick);
        }
    }
    // An event that names no preferred origin, or one it does not hold, is located by its
    // first origin rather than left without a place and time.
    ReadOrigin(preferred ? preferred : first, event);
    return event;
}

}  // namespace

int ReadQuakeMl(const std::string& path, EventCatalogue& catalogue) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(path.c_str());
    if (!parsed)
        return 1;
    // The BED elements usually sit inside the q:quakeml wrapper, but an eventParameters
    // element may also stand as the document itself.
    pugi::xml_node parameters = document.document_element();
    if (!IsElement(parameters, BED_NAMESPACE, "eventParameters"))
        parameters = ChildElement(parameters, BED_NAMESPACE, "eventParameters");
    for (pugi::xml_node eventNode : parameters.children()) {
        if (IsElement(eventNode, BED_NAMESPACE, "event"))
            catalogue.events.push_back(ReadEvent(eventNode));
    }
    return 0;
}
