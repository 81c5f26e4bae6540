#pragma once

#include <string>

// A QuakeML catalogue of two events for the metadata tests, written in the q:quakeml wrapper.
// Event 2024efgh comes first in the file and has the later origin; it names no preferred
// origin and its origin has no arrivals. Event 2024abcd prefers its second origin, whose
// arrivals use picks of XX.ABC (P on HHZ, S on HHE), YY.DEF (P by its arrival only, 0.5
// degrees) and XX.GHI (P); its pick of XX.JKL, the earliest, belongs to no arrival. An
// element of another namespace named like a pick must be ignored.
inline std::string QuakeMlFixture() {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<q:quakeml xmlns:q="http://quakeml.org/xmlns/quakeml/1.2" xmlns="http://quakeml.org/xmlns/bed/1.2">
  <eventParameters publicID="smi:org.test/catalogue">
    <event publicID="smi:org.test/event/2024efgh">
      <type>earthquake</type>
      <origin publicID="smi:org.test/origin/e1">
        <time><value>2024-03-02T05:00:00Z</value></time>
        <latitude><value>44.0</value></latitude>
        <longitude><value>8.0</value></longitude>
      </origin>
      <pick publicID="smi:org.test/pick/q2">
        <time><value>2024-03-02T05:00:40.000Z</value></time>
        <waveformID networkCode="XX" stationCode="ABC" locationCode="" channelCode="HHN"/>
        <phaseHint>S</phaseHint>
      </pick>
      <pick publicID="smi:org.test/pick/q1">
        <time><value>2024-03-02T05:00:30.000Z</value></time>
        <waveformID networkCode="XX" stationCode="ABC" locationCode="" channelCode="HHZ"/>
        <phaseHint>P</phaseHint>
      </pick>
    </event>
    <event publicID="smi:org.test/event/2024abcd">
      <preferredOriginID>smi:org.test/origin/a2</preferredOriginID>
      <origin publicID="smi:org.test/origin/a1">
        <time><value>2024-03-01T09:59:58Z</value></time>
        <latitude><value>10.0</value></latitude>
        <longitude><value>10.0</value></longitude>
        <arrival publicID="smi:org.test/arrival/a1-1">
          <pickID>smi:org.test/pick/p5</pickID>
          <phase>P</phase>
        </arrival>
      </origin>
      <origin publicID="smi:org.test/origin/a2">
        <time><value>2024-03-01T10:00:00.5Z</value></time>
        <latitude><value>45.0</value></latitude>
        <longitude><value>7.0</value></longitude>
        <depth><value>10000</value></depth>
        <arrival publicID="smi:org.test/arrival/1">
          <pickID>smi:org.test/pick/p1</pickID>
          <phase>P</phase>
          <distance>0.9</distance>
        </arrival>
        <arrival publicID="smi:org.test/arrival/2">
          <pickID>smi:org.test/pick/p2</pickID>
          <phase>S</phase>
          <distance>0.9</distance>
        </arrival>
        <arrival publicID="smi:org.test/arrival/3">
          <pickID>smi:org.test/pick/p3</pickID>
          <phase>P</phase>
          <distance>0.5</distance>
        </arrival>
        <arrival publicID="smi:org.test/arrival/4">
          <pickID>smi:org.test/pick/p4</pickID>
          <phase>P</phase>
        </arrival>
      </origin>
      <pick publicID="smi:org.test/pick/p4">
        <time><value>2024-03-01T10:00:20Z</value></time>
        <waveformID networkCode="XX" stationCode="GHI" locationCode="" channelCode="HHZ"/>
        <phaseHint>P</phaseHint>
      </pick>
      <pick publicID="smi:org.test/pick/p1">
        <time><value>2024-03-01T10:00:12.25Z</value></time>
        <waveformID networkCode="XX" stationCode="ABC" locationCode="" channelCode="HHZ"/>
        <phaseHint>P</phaseHint>
        <evaluationMode>manual</evaluationMode>
      </pick>
      <pick publicID="smi:org.test/pick/p2">
        <time><value>2024-03-01T10:00:21Z</value></time>
        <waveformID networkCode="XX" stationCode="ABC" locationCode="" channelCode="HHE"/>
        <phaseHint>S</phaseHint>
      </pick>
      <pick publicID="smi:org.test/pick/p3">
        <time><value>2024-03-01T10:00:09Z</value></time>
        <waveformID networkCode="YY" stationCode="DEF" locationCode="00" channelCode="BHZ"/>
      </pick>
      <pick publicID="smi:org.test/pick/p5">
        <time><value>2024-03-01T10:00:05Z</value></time>
        <waveformID networkCode="XX" stationCode="JKL" locationCode="" channelCode="HHZ"/>
        <phaseHint>P</phaseHint>
      </pick>
      <ext:pick xmlns:ext="urn:example:extension" publicID="smi:org.test/pick/x">
        <ext:time><ext:value>2024-03-01T10:00:01Z</ext:value></ext:time>
      </ext:pick>
    </event>
  </eventParameters>
</q:quakeml>
)";
}
