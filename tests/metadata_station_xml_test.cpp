#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "metadata/station_xml.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double YEAR_2010 = 1262304000.0;  // 2010-01-01T00:00:00Z
constexpr double YEAR_2020 = 1577836800.0;  // 2020-01-01T00:00:00Z

// Station XX.ABC in two epochs (moved on 2020-01-01, the second still open), written as
// StationXML 1.1 with the default namespace.
const char* STATION_XML_1_1 = R"(<?xml version="1.0" encoding="UTF-8"?>
<FDSNStationXML xmlns="http://www.fdsn.org/xml/station/1" schemaVersion="1.1">
  <Source>test</Source>
  <Created>2024-01-01T00:00:00</Created>
  <Network code="XX" startDate="2000-01-01T00:00:00">
    <Station code="ABC" startDate="2010-01-01T00:00:00" endDate="2020-01-01T00:00:00">
      <Latitude>46.0</Latitude>
      <Longitude>7.0</Longitude>
      <Elevation>350.5</Elevation>
      <Site><Name>First site</Name></Site>
      <Channel code="HHZ" locationCode="" startDate="2010-01-01T00:00:00">
        <Latitude>0.0</Latitude>
        <Longitude>0.0</Longitude>
        <Elevation>0.0</Elevation>
        <Depth>0.0</Depth>
      </Channel>
    </Station>
    <Station code="ABC" startDate="2020-01-01T00:00:00Z">
      <Latitude unit="DEGREES">+46.5</Latitude>
      <Longitude>-7.25</Longitude>
      <Elevation>410</Elevation>
      <Site><Name>Second site</Name></Site>
    </Station>
  </Network>
</FDSNStationXML>
)";

// The same station as StationXML 1.2 with a prefix, plus a Station of another namespace and a
// station without a position, which are both left out.
const char* STATION_XML_1_2 = R"(<?xml version="1.0" encoding="UTF-8"?>
<fsx:FDSNStationXML xmlns:fsx="http://www.fdsn.org/xml/station/1" schemaVersion="1.2">
  <fsx:Source>test</fsx:Source>
  <fsx:Created>2024-01-01T00:00:00</fsx:Created>
  <fsx:Network code="XX">
    <fsx:Station code="ABC" startDate="2010-01-01T00:00:00" endDate="2020-01-01T00:00:00">
      <fsx:Latitude>46.0</fsx:Latitude>
      <fsx:Longitude>7.0</fsx:Longitude>
      <fsx:Elevation>350.5</fsx:Elevation>
    </fsx:Station>
    <fsx:Station code="ABC" startDate="2020-01-01T00:00:00Z">
      <fsx:Latitude>46.5</fsx:Latitude>
      <fsx:Longitude>-7.25</fsx:Longitude>
      <fsx:Elevation>410</fsx:Elevation>
    </fsx:Station>
    <fsx:Station code="NOP" startDate="2010-01-01T00:00:00">
      <fsx:Elevation>100</fsx:Elevation>
    </fsx:Station>
    <Station xmlns="urn:example:other" code="OTH">
      <Latitude>1.0</Latitude>
      <Longitude>1.0</Longitude>
    </Station>
  </fsx:Network>
</fsx:FDSNStationXML>
)";

}  // namespace

TEST(StationXml, ReadsTheEpochsOfVersions11And12) {
    const char* versions[] = {STATION_XML_1_1, STATION_XML_1_2};
    for (const char* text : versions) {
        SCOPED_TRACE(text == STATION_XML_1_1 ? "1.1" : "1.2");
        TempDir dir;
        StationCoordinates coordinates;
        ASSERT_EQ(ReadStationXml(dir.Write("stations.xml", text), coordinates), 0);
        ASSERT_EQ(coordinates.epochs.size(), 2u);
        const StationEpoch& first = coordinates.epochs[0];
        EXPECT_EQ(first.network, "XX");
        EXPECT_EQ(first.station, "ABC");
        EXPECT_EQ(first.startTime, YEAR_2010);
        EXPECT_EQ(first.endTime, YEAR_2020);
        EXPECT_EQ(first.latitude, 46.0);
        EXPECT_EQ(first.longitude, 7.0);
        EXPECT_EQ(first.elevation, 350.5);
        const StationEpoch& second = coordinates.epochs[1];
        EXPECT_EQ(second.startTime, YEAR_2020);
        EXPECT_TRUE(std::isinf(second.endTime) && second.endTime > 0.0);
        EXPECT_EQ(second.latitude, 46.5);
        EXPECT_EQ(second.longitude, -7.25);
        EXPECT_EQ(second.elevation, 410.0);
    }
}

TEST(StationXml, AppendsTheEpochsOfSeveralFiles) {
    TempDir dir;
    StationCoordinates coordinates;
    ASSERT_EQ(ReadStationXml(dir.Write("a.xml", STATION_XML_1_1), coordinates), 0);
    ASSERT_EQ(ReadStationXml(dir.Write("b.xml", STATION_XML_1_2), coordinates), 0);
    EXPECT_EQ(coordinates.epochs.size(), 4u);
}

TEST(StationXml, FindsTheEpochThatContainsATime) {
    TempDir dir;
    StationCoordinates coordinates;
    ASSERT_EQ(ReadStationXml(dir.Write("stations.xml", STATION_XML_1_1), coordinates), 0);
    struct Case {
        const char* network;
        const char* station;
        double time;
        int expected;
        double latitude;  // of the epoch found
    };
    const Case cases[] = {
        {"XX", "ABC", YEAR_2010 - 1.0, 1, 0.0},  // before the first epoch
        {"XX", "ABC", YEAR_2010, 0, 46.0},       // the start date belongs to the epoch
        {"XX", "ABC", YEAR_2020 - 0.5, 0, 46.0},
        {"XX", "ABC", YEAR_2020, 0, 46.5},     // the end date belongs to the next epoch
        {"XX", "ABC", 4102444800.0, 0, 46.5},  // 2100: the open epoch
        {"YY", "ABC", YEAR_2020, 1, 0.0},      // another network
        {"XX", "AB", YEAR_2020, 1, 0.0},       // codes are compared whole
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.network << '.' << c.station << ' ' << c.time);
        StationEpoch epoch;
        ASSERT_EQ(FindStationCoordinates(coordinates, c.network, c.station, c.time, epoch),
                  c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(epoch.latitude, c.latitude);
        }
    }
}

TEST(StationXml, LeavesOutStationsWithoutPositionOrOfAnotherNamespace) {
    TempDir dir;
    StationCoordinates coordinates;
    ASSERT_EQ(ReadStationXml(dir.Write("stations.xml", STATION_XML_1_2), coordinates), 0);
    for (const StationEpoch& epoch : coordinates.epochs) EXPECT_EQ(epoch.station, "ABC");
}

TEST(StationXml, SkipsAnEpochWithADateThatCannotBeRead) {
    TempDir dir;
    const std::string text = R"(<FDSNStationXML xmlns="http://www.fdsn.org/xml/station/1">
  <Network code="XX">
    <Station code="ABC" startDate="sometime"><Latitude>1</Latitude><Longitude>2</Longitude></Station>
    <Station code="DEF"><Latitude>3</Latitude><Longitude>4</Longitude></Station>
  </Network>
</FDSNStationXML>)";
    StationCoordinates coordinates;
    ASSERT_EQ(ReadStationXml(dir.Write("stations.xml", text), coordinates), 0);
    ASSERT_EQ(coordinates.epochs.size(), 1u);
    EXPECT_EQ(coordinates.epochs[0].station, "DEF");
    EXPECT_TRUE(std::isinf(coordinates.epochs[0].startTime) &&
                coordinates.epochs[0].startTime < 0.0);
}

TEST(StationXml, CannotReadAMissingOrMalformedFile) {
    struct Case {
        const char* name;
        const char* text;  // null: the file is not written
    };
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"mismatched tags",
         "<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\"><Network code=\"XX\">"
         "</Station></FDSNStationXML>"},
        {"cut short",
         "<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\"><Network code=\"XX\">"},
        {"plain text", "XX ABC 46.0 7.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = c.text ? dir.Write("stations.xml", c.text) : dir.File("none.xml");
        StationCoordinates coordinates;
        coordinates.epochs.push_back(StationEpoch());
        EXPECT_EQ(ReadStationXml(path, coordinates), 1);
        EXPECT_EQ(coordinates.epochs.size(), 1u);
    }
}
