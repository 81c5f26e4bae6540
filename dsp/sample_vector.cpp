#include "dsp/sample_vector.h"

#include <algorithm>
#include <new>

SampleVector::SampleVector(const SampleVector& other) { CopyFrom(other); }

SampleVector::SampleVector(SampleVector&& other) noexcept
    : samples(other.samples),
      sampleRate(other.sampleRate),
      sampleCount(other.sampleCount),
      startTime(other.startTime),
      calib(other.calib),
      calper(other.calper) {
    other.samples = nullptr;
    other.sampleCount = 0;
}

SampleVector& SampleVector::operator=(const SampleVector& other) {
    if (this != &other) {
        Release();
        CopyFrom(other);
    }
    return *this;
}

SampleVector& SampleVector::operator=(SampleVector&& other) noexcept {
    if (this != &other) {
        Release();
        samples = other.samples;
        sampleRate = other.sampleRate;
        sampleCount = other.sampleCount;
        startTime = other.startTime;
        calib = other.calib;
        calper = other.calper;
        other.samples = nullptr;
        other.sampleCount = 0;
    }
    return *this;
}

SampleVector::~SampleVector() { Release(); }

bool SampleVector::AllocateZeros(int count) {
    if (!AllocateUndefined(count))
        return false;
    std::fill(samples, samples + count, 0.0f);
    return true;
}

bool SampleVector::AllocateUndefined(int count) {
    Release();
    if (count < 0)
        return false;
    samples = new (std::nothrow) float[static_cast<size_t>(count)];
    if (samples == nullptr)
        return false;
    sampleCount = count;
    return true;
}

double SampleVector::EndTime() const { return startTime + sampleCount / sampleRate; }

void SampleVector::Release() {
    delete[] samples;
    samples = nullptr;
    sampleCount = 0;
}

void SampleVector::CopyFrom(const SampleVector& other) {
    sampleRate = other.sampleRate;
    startTime = other.startTime;
    calib = other.calib;
    calper = other.calper;
    // A vector without an array keeps its count, copied like the other fields.
    sampleCount = other.samples == nullptr ? other.sampleCount : 0;
    samples = nullptr;
    if (other.samples != nullptr) {
        // A copy that cannot be allocated is left empty rather than aborting the run.
        samples = new (std::nothrow) float[static_cast<size_t>(other.sampleCount)];
        if (samples != nullptr) {
            std::copy(other.samples, other.samples + other.sampleCount, samples);
            sampleCount = other.sampleCount;
        }
    }
}
