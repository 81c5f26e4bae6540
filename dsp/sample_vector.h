#pragma once

// One contiguous run of samples of one station and channel. The vector owns its array
// exclusively; copies are deep. A copy of a vector without an array has none either and
// keeps the other five fields, its count among them; a copy whose array cannot be allocated
// is left with no array and a count of 0. Fields are public: the archive fills them, the plot and
// the CSS writer read them.
class SampleVector {
public:
    SampleVector() = default;
    SampleVector(const SampleVector& other);
    SampleVector(SampleVector&& other) noexcept;
    SampleVector& operator=(const SampleVector& other);
    SampleVector& operator=(SampleVector&& other) noexcept;
    virtual ~SampleVector();

    // Replaces the samples with count zeros. Returns true on success; when the array
    // cannot be allocated (or count is negative) the vector is left empty and false returned.
    bool AllocateZeros(int count);
    // Replaces the samples with count floats whose values are left undefined, for a caller
    // that writes every one of them; otherwise as AllocateZeros.
    bool AllocateUndefined(int count);

    // Epoch seconds one sample interval after the last sample.
    double EndTime() const;

    float* samples = nullptr;  // sampleCount floats, or null when the vector holds no array
    double sampleRate = 0.0;   // samples per second
    int sampleCount = 0;
    // Epoch seconds of sample 0; sample k lies at startTime + k / sampleRate.
    double startTime = 0.0;
    double calib = 1.0;
    double calper = 1.0;

private:
    void Release();
    void CopyFrom(const SampleVector& other);
};
