#pragma once

// Reading back miniSEED files with libmseed's own reader. Header only: the programs that
// include it link libmseed themselves, the rest of the test support does not need it.

#include <libmseed.h>

#include <cstdint>
#include <string>
#include <vector>

// One miniSEED record as libmseed reads it.
struct MseedRecord {
    std::string network, station, location, channel;
    hptime_t start = 0;  // microseconds since 1970
    double rate = 0.0;   // as msr_samprate gives it: Blockette 100 where there is one
    int encoding = 0;
    int length = 0;  // bytes
    char sampleType = 0;
    std::vector<double> samples;
};

// Reads every record of a miniSEED file; a missing file gives none.
inline std::vector<MseedRecord> ReadMseedRecords(const std::string& path) {
    std::vector<MseedRecord> records;
    MSRecord* record = nullptr;
    while (ms_readmsr(&record, path.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        MseedRecord read;
        read.network = record->network;
        read.station = record->station;
        read.location = record->location;
        read.channel = record->channel;
        read.start = record->starttime;
        read.rate = msr_samprate(record);
        read.encoding = record->encoding;
        read.length = record->reclen;
        read.sampleType = record->sampletype;
        for (std::int64_t i = 0; i < record->numsamples; ++i) {
            if (record->sampletype == 'i')
                read.samples.push_back(static_cast<std::int32_t*>(record->datasamples)[i]);
            else
                read.samples.push_back(static_cast<float*>(record->datasamples)[i]);
        }
        records.push_back(read);
    }
    // Closes the file and frees the record.
    ms_readmsr(&record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return records;
}
