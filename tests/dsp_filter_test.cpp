#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "dsp/filter.h"

namespace {

const double PI = 3.141592653589793;
const double HALF_POWER = 1.0 / std::sqrt(2.0);

// Magnitude of the cascade's frequency response at f Hz.
double Gain(const FilterSections& sections, double f, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * PI * f / rate);
    std::complex<double> h = 1.0;
    for (int k = 0; k < sections.sectionCount; ++k) {
        const float* b = sections.numerator + 3 * k;
        const float* a = sections.denominator + 3 * k;
        h *= (double(b[0]) + (double(b[1]) + double(b[2]) * z1) * z1) /
             (1.0 + (double(a[1]) + double(a[2]) * z1) * z1);
    }
    return std::abs(h);
}

// Centre of a band between two corners: the geometric mean of the pre-warped corners.
double BandCentre(double low, double high, double rate) {
    return std::atan(std::sqrt(std::tan(PI * low / rate) * std::tan(PI * high / rate))) * rate / PI;
}

std::vector<float> Sine(int count, double rate, double f, double amplitude, double offset) {
    std::vector<float> samples(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[static_cast<size_t>(i)] =
            static_cast<float>(offset + amplitude * std::sin(2.0 * PI * f * i / rate + 0.3));
    return samples;
}

std::vector<float> Filtered(std::vector<float> samples, double rate, unsigned typeCode, int order,
                            float low, float high) {
    FilterSamples(samples.data(), static_cast<int>(samples.size()), 1.0 / rate, typeCode, order,
                  low, high);
    return samples;
}

bool SameBits(const std::vector<float>& x, const std::vector<float>& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

// Filters samples with FilterJoinedSamples as three arrays laid end to end: in one call, or
// the first two in one call and the third in a second that goes on from the state the first
// left (as a drum's next row does).
std::vector<float> FilteredJoined(std::vector<float> samples, double rate, unsigned typeCode,
                                  int order, float low, float high, bool inTwoCalls) {
    const int third = static_cast<int>(samples.size() / 3);
    float* arrays[3] = {samples.data(), samples.data() + third, samples.data() + 2 * third};
    const int counts[3] = {third, third, static_cast<int>(samples.size()) - 2 * third};
    if (!inTwoCalls) {
        FilterJoinedSamples(arrays, counts, 3, 1.0 / rate, typeCode, order, low, high);
        return samples;
    }
    JoinedRunState state;
    state.runSeconds = static_cast<double>(samples.size()) / rate;
    FilterJoinedSamples(arrays, counts, 2, 1.0 / rate, typeCode, order, low, high, &state);
    FilterJoinedSamples(arrays + 2, counts + 2, 1, 1.0 / rate, typeCode, order, low, high, &state);
    return samples;
}

const char* const TYPE_NAMES[] = {"BP", "LP", "BR", "HP"};

// Filters like ApplyFilter in the plainest way: mean over the samples that are not
// missing, states from sample 0, direct form I with each section's output as a float.
std::vector<float> ReferenceCascade(std::vector<float> x, const FilterSections& s) {
    double sum = 0;
    int used = 0;
    for (float v : x) {
        sum += v != MISSING_SAMPLE ? v : 0;
        used += v != MISSING_SAMPLE;
    }
    for (float& v : x) v = v != MISSING_SAMPLE ? static_cast<float>(v - sum / used) : v;
    float state[10][4];
    for (auto& sectionState : state) std::fill(sectionState, sectionState + 4, x[0]);
    for (float& v : x) {
        if (v == MISSING_SAMPLE)
            continue;
        float in = v;
        for (int k = 0; k < s.sectionCount; ++k) {
            const float* b = s.numerator + 3 * k;
            const float* a = s.denominator + 3 * k;
            float* st = state[k];  // x1, x2, y1, y2
            const float out =
                static_cast<float>(double(b[0]) * in + double(b[1]) * st[0] + double(b[2]) * st[1] -
                                   (double(a[1]) * st[2] + double(a[2]) * st[3]));
            st[3] = st[2];
            st[2] = out;
            st[1] = st[0];
            st[0] = in;
            in = out;
        }
        v = in;
    }
    return x;
}

// Uniform noise of the given spread about offset, from a fixed linear congruential sequence.
std::vector<float> Noise(int count, double offset, double spread) {
    std::vector<float> samples(static_cast<size_t>(count));
    std::uint32_t state = 12345;
    for (float& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<float>(offset + spread * (state / 4294967296.0 - 0.5));
    }
    return samples;
}

double LargestMagnitude(const std::vector<float>& samples) {
    double largest = 0.0;
    for (float sample : samples) {
        if (!(std::fabs(sample) <= largest))
            largest = std::isnan(sample) ? HUGE_VAL : std::fabs(sample);
    }
    return largest;
}

}  // namespace

TEST(DesignFilter, HasHalfPowerCornersUnitPassBandAndSectionCounts) {
    struct Case {
        unsigned typeCode;
        int order;
        float low, high;
        double rate;
    };
    const Case cases[] = {
        {0, 3, 1, 5, 100}, {0, 10, 2, 10, 50}, {2, 3, 1, 5, 100}, {2, 7, 3, 12, 100},
        {1, 3, 0, 5, 100}, {1, 2, 0, 1, 20},   {3, 2, 1, 0, 100}, {3, 9, 10, 0, 100},
    };
    for (const Case& c : cases) {
        const char* type = TYPE_NAMES[c.typeCode];
        SCOPED_TRACE(testing::Message()
                     << type << c.order << ' ' << c.low << '-' << c.high << " Hz at " << c.rate);
        const FilterSections s =
            DesignFilter(c.order, type, c.low, c.high, static_cast<float>(1.0 / c.rate));
        const bool band = c.typeCode % 2 == 0;
        EXPECT_EQ(s.sectionCount, band ? c.order : (c.order + 1) / 2);
        const double centre = BandCentre(c.low, c.high, c.rate);
        std::vector<std::pair<double, double>> expected;  // frequency, gain
        if (c.typeCode != 1)
            expected.push_back({c.low, HALF_POWER});
        if (c.typeCode != 3)
            expected.push_back({c.high, HALF_POWER});
        if (c.typeCode == 0)
            expected.push_back({centre, 1.0});
        if (c.typeCode == 1 || c.typeCode == 2)
            expected.push_back({0.0, 1.0});
        // The real pole of an odd high-pass gives a section whose pole and zero at z = -1
        // cancel; right at half the rate its float response is 0/0, so it is read below.
        if (c.typeCode >= 2)
            expected.push_back({c.rate * (c.typeCode == 3 && c.order % 2 ? 0.499 : 0.5), 1.0});
        if (c.typeCode == 2)
            expected.push_back({centre, 0.0});
        for (const auto& [f, gain] : expected) {
            SCOPED_TRACE(testing::Message() << "at " << f << " Hz");
            EXPECT_NEAR(Gain(s, f, c.rate), gain, 2e-5);
        }
    }
}

TEST(DesignFilter, AgreesWithIndependentReference) {
    // Magnitudes from scipy 1.10 (Debian python3-scipy): signal.butter(order, corners, btype,
    // fs=rate, output='sos') and signal.sosfreqz at f. They match the closed form
    // 1 / sqrt(1 + W^(2 order)) with w = tan(pi f / rate), W = w / wc (LP), wc / w (HP),
    // (w^2 - wl wh) / (w (wh - wl)) (BP) and its reciprocal (BR) to 1e-13.
    struct Case {
        const char* type;
        int order;
        float low, high;
        double rate, f, gain;
    };
    const Case cases[] = {
        {"BP", 3, 1, 5, 100, 0.5, 0.0747257319},     {"BP", 3, 1, 5, 100, 10, 0.0687932703},
        {"BP", 6, 0.5f, 2, 40, 0.25, 0.00413599574}, {"BR", 4, 2, 8, 50, 3, 0.0280555927},
        {"BR", 4, 2, 8, 50, 20, 0.999999932},        {"LP", 5, 0, 10, 100, 12, 0.348837786},
        {"LP", 5, 0, 10, 100, 20, 0.0178856823},     {"HP", 2, 1, 0, 20, 0.25, 0.0614215306},
        {"HP", 2, 1, 0, 20, 2, 0.972911499},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << c.order << " at " << c.f << " Hz");
        const FilterSections s =
            DesignFilter(c.order, c.type, c.low, c.high, static_cast<float>(1.0 / c.rate));
        EXPECT_NEAR(Gain(s, c.f, c.rate), c.gain, 2e-6 + 2e-5 * c.gain);
    }
}

TEST(FilterSamples, MatchesPlainCascadeBitForBit) {
    std::vector<float> noise(5000);
    std::uint32_t seed = 7u;
    for (float& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = 800.0f + static_cast<float>(seed >> 12) / 4096.0f;
    }
    std::vector<float> gappy = noise;
    gappy[0] = MISSING_SAMPLE;  // the states start at the marker itself
    gappy[1234] = gappy[1235] = gappy[4999] = MISSING_SAMPLE;
    // Ordinary bands, and a lower one whose float design still keeps within a thousandth
    // of the ideal response.
    const struct {
        float low, high;
        double rate;
    } bands[] = {{1, 5, 100}, {1, 10, 100}, {0.5f, 5, 40}, {0.02f, 1, 20}};
    for (const auto& band : bands) {
        for (unsigned typeCode = 0; typeCode < 4; ++typeCode) {
            for (int order : {2, 3, 8}) {
                SCOPED_TRACE(testing::Message() << TYPE_NAMES[typeCode] << order << ' ' << band.low
                                                << '-' << band.high << " Hz at " << band.rate);
                const FilterSections s =
                    DesignFilter(order, TYPE_NAMES[typeCode], band.low, band.high,
                                 static_cast<float>(1.0 / band.rate));
                for (const std::vector<float>& input : {noise, gappy}) {
                    const std::vector<float> expected = ReferenceCascade(input, s);
                    EXPECT_TRUE(
                        SameBits(Filtered(input, band.rate, typeCode, order, band.low, band.high),
                                 expected));
                    // The segment's files filtered as one run come out the same.
                    EXPECT_TRUE(SameBits(FilteredJoined(input, band.rate, typeCode, order, band.low,
                                                        band.high, false),
                                         expected));
                }
            }
        }
    }
    // Starting at the marker throws the cascade far off at the first real sample.
    EXPECT_GT(std::fabs(Filtered(gappy, 100, 0, 3, 1, 5)[1]), 1e6f);
}

TEST(FilterSamples, ClampsOrderToTwoThroughTen) {
    const std::vector<float> x = Sine(2000, 100, 3, 100, 10);
    EXPECT_TRUE(SameBits(Filtered(x, 100, 0, 1, 1, 5), Filtered(x, 100, 0, 2, 1, 5)));
    EXPECT_TRUE(SameBits(Filtered(x, 100, 0, 12, 1, 5), Filtered(x, 100, 0, 10, 1, 5)));
    EXPECT_FALSE(SameBits(Filtered(x, 100, 0, 3, 1, 5), Filtered(x, 100, 0, 2, 1, 5)));
}

TEST(FilterSamples, RemovesMeanForEveryType) {
    // An offset far above the signal shows as a huge start-up step or a shifted output
    // unless the mean is removed first. The sine lies in each type's pass band.
    const double passFrequency[] = {2.2, 1, 20, 10};
    for (unsigned typeCode = 0; typeCode < 4; ++typeCode) {
        SCOPED_TRACE(TYPE_NAMES[typeCode]);
        EXPECT_TRUE(SameBits(Filtered(std::vector<float>(300, 4321.5f), 100, typeCode, 3, 1, 5),
                             std::vector<float>(300, 0.0f)));
        const std::vector<float> y =
            Filtered(Sine(4000, 100, passFrequency[typeCode], 100, 1e5), 100, typeCode, 3, 1, 5);
        double sum = 0;
        for (float v : y) {
            EXPECT_LT(std::fabs(v), 250.0f);
            sum += v;
        }
        EXPECT_LT(std::fabs(sum / 4000), 5.0);
    }
}

TEST(FilterSamples, SineKeepsAmplitudeInsideBandAndLosesItOutside) {
    // Band-pass 1-5 Hz, order 3, at 100 samples per second, as the plot filters.
    const double low = 1, high = 5, rate = 100;
    const double centre = BandCentre(low, high, rate);
    const struct {
        double f, minimum, maximum;
    } cases[] = {{centre, 0.98, 1.02}, {4, 0.9, 1.0}, {0.1, 0, 0.01}, {45, 0, 0.001}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.f << " Hz");
        const std::vector<float> y = Filtered(Sine(6000, rate, c.f, 1000, 0), rate, 0, 3, 1, 5);
        float peak = 0;
        for (size_t i = 3000; i < y.size(); ++i)  // past the start-up transient
            peak = std::max(peak, std::fabs(y[i]));
        EXPECT_GE(peak / 1000, c.minimum);
        EXPECT_LE(peak / 1000, c.maximum);
    }
}

TEST(FilterSamples, LongPeriodBandsKeepWithinAThousandthOfTheIdealResponse) {
    // Low corners near a ten-thousandth of the rate, order 3. Each band filters sines at four
    // frequencies between its corners, each a whole number of samples per period, for two
    // hours; the gain is read over the whole periods of the second hour, long after the
    // start-up has died away, alone, as four segments side by side and as a run filtered in
    // two calls.
    const struct {
        float low, high;
        double rate;
    } bands[] = {{0.01f, 0.1f, 100}, {0.005f, 0.05f, 100}, {0.005f, 0.05f, 200}, {0.05f, 1, 200}};
    const double near[] = {1.1, 1.5};  // times the low corner
    const double far[] = {0.5, 0.8};   // times the high corner
    for (const auto& band : bands) {
        SCOPED_TRACE(testing::Message() << band.low << '-' << band.high << " Hz at " << band.rate);
        const int count = static_cast<int>(7200 * band.rate);
        const int settled = count / 2;
        int periods[4];
        std::vector<float> alone[4];
        std::vector<float> joined[4];
        std::vector<float> sideBySide[4];
        for (int j = 0; j < 4; ++j) {
            const double f = j < 2 ? near[j] * band.low : far[j - 2] * band.high;
            periods[j] = static_cast<int>(std::lround(band.rate / f));
            const std::vector<float> x = Sine(count, band.rate, band.rate / periods[j], 1000, 5000);
            alone[j] = Filtered(x, band.rate, 0, 3, band.low, band.high);
            joined[j] = FilteredJoined(x, band.rate, 0, 3, band.low, band.high, true);
            sideBySide[j] = x;
        }
        float* samples[4];
        const int counts[4] = {count, count, count, count};
        const double intervals[4] = {1.0 / band.rate, 1.0 / band.rate, 1.0 / band.rate,
                                     1.0 / band.rate};
        for (int j = 0; j < 4; ++j) samples[j] = sideBySide[j].data();
        FilterSampleQuad(samples, counts, intervals, 0, 3, band.low, band.high);

        const double lowWarped = std::tan(PI * band.low / band.rate);
        const double highWarped = std::tan(PI * band.high / band.rate);
        for (int j = 0; j < 4; ++j) {
            const int period = periods[j];
            const double warped = std::tan(PI / period);
            const double x =
                (warped * warped - lowWarped * highWarped) / ((highWarped - lowWarped) * warped);
            const double ideal = 1.0 / std::sqrt(1.0 + std::pow(x, 6));
            const int length = (count - settled) / period * period;
            for (const auto& [how, y] :
                 {std::make_pair("alone", &alone[j]), std::make_pair("joined", &joined[j]),
                  std::make_pair("side by side", &sideBySide[j])}) {
                SCOPED_TRACE(testing::Message() << how << ", " << band.rate / period << " Hz");
                // The amplitude of the sine at that period, over whole periods.
                double sine = 0.0;
                double cosine = 0.0;
                for (int i = count - length; i < count; ++i) {
                    const double angle = 2.0 * PI * (i % period) / period;
                    sine += (*y)[static_cast<size_t>(i)] * std::sin(angle);
                    cosine += (*y)[static_cast<size_t>(i)] * std::cos(angle);
                }
                const double gain = 2.0 * std::hypot(sine, cosine) / length / 1000.0;
                EXPECT_NEAR(gain / ideal, 1.0, 1e-3);
            }
        }
    }
}

TEST(FilterSamples, SkipsMissingAndNonFiniteSamplesCarryingState) {
    const std::vector<float> x = Sine(1000, 100, 3, 500, 20);
    std::vector<float> gappy = x;
    gappy.insert(gappy.begin() + 400, MISSING_SAMPLE);
    gappy.insert(gappy.begin() + 700, std::numeric_limits<float>::quiet_NaN());
    gappy.insert(gappy.begin() + 701, std::numeric_limits<float>::infinity());
    const std::vector<float> y = Filtered(x, 100, 0, 3, 1, 5);
    std::vector<float> yGappy = Filtered(gappy, 100, 0, 3, 1, 5);
    EXPECT_EQ(yGappy[400], MISSING_SAMPLE);
    EXPECT_TRUE(std::isnan(yGappy[700]));
    EXPECT_EQ(yGappy[701], std::numeric_limits<float>::infinity());
    yGappy.erase(yGappy.begin() + 700, yGappy.begin() + 702);
    yGappy.erase(yGappy.begin() + 400);
    EXPECT_TRUE(SameBits(yGappy, y));
}

TEST(FilterSamples, LeavesUnfilterableSegmentsUnchanged) {
    const std::vector<float> x = Sine(20000, 100, 3, 500, 20);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The last two bands are below half the rate, but so narrow against it that float
    // coefficients put a pole outside the unit circle near z = 1: the output would grow
    // into infinity.
    const struct {
        const char* what;
        double interval;
        unsigned typeCode;
        float low, high;
    } cases[] = {{"zero interval", 0, 0, 1, 5},          {"NaN interval", nan, 0, 1, 5},
                 {"infinite interval", 1e300, 0, 1, 5},  {"interval below float", 1e-60, 0, 1, 5},
                 {"unknown type", 0.01, 4, 1, 5},        {"narrow low corner", 0.01, 0, 0.001f, 5},
                 {"narrow band", 0.01, 0, 0.002f, 0.02f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> y = x;
        FilterSamples(y.data(), 20000, c.interval, c.typeCode, 3, c.low, c.high);
        EXPECT_TRUE(SameBits(y, x));
    }
    const std::vector<float> allMissing(50, MISSING_SAMPLE);
    EXPECT_TRUE(SameBits(Filtered(allMissing, 100, 0, 3, 1, 5), allMissing));
    std::vector<float> y = x;
    FilterSamples(y.data(), 0, 0.01, 0, 3, 1, 5);
    FilterSamples(y.data(), -5, 0.01, 0, 3, 1, 5);
    FilterSamples(nullptr, 10, 0.01, 0, 3, 1, 5);
    EXPECT_TRUE(SameBits(y, x));
}

TEST(FilterSamples, DropsCornersAtOrAboveHalfTheRate) {
    // At 100 samples per second such a corner would make the cascade unstable.
    const std::vector<float> x = Sine(3000, 100, 3, 500, 20);
    const struct {
        unsigned typeCode;
        float low, high;
        int fallbackType;  // -1: left unchanged
        float fallbackLow, fallbackHigh;
    } cases[] = {
        {0, 1, 60, 3, 1, 0},
        {0, 1, 50, 3, 1, 0},
        {0, 50, 60, -1, 0, 0},
        {2, 1, 60, 1, 0, 1},
        {1, 0, 50, -1, 0, 0},
        {3, 50, 0, -1, 0, 0},
        // A hair below half the rate the band-pass has a pole just outside z = -1.
        {0, 1, 49.99998f, 3, 1, 0},
        {2, 1, 49.99998f, 1, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << TYPE_NAMES[c.typeCode] << ' ' << c.low << '-' << c.high);
        const std::vector<float> y = Filtered(x, 100, c.typeCode, 3, c.low, c.high);
        if (c.fallbackType < 0) {
            EXPECT_TRUE(SameBits(y, x));
        } else {
            EXPECT_TRUE(SameBits(y, Filtered(x, 100, static_cast<unsigned>(c.fallbackType), 3,
                                             c.fallbackLow, c.fallbackHigh)));
        }
    }
    // Just below half the rate the band is designed as given.
    EXPECT_FALSE(SameBits(Filtered(x, 100, 0, 3, 1, 49), Filtered(x, 100, 3, 3, 1, 0)));
}

TEST(FilterSamples, FiltersEveryBandWhoseOutputStaysBoundedOverAnHour) {
    const struct {
        const char* what;
        double rate;
        float low, high;
        FilterOutcome outcome;
        const char* type;  // the design that is run, or nullptr when none is
        float designLow, designHigh;
    } cases[] = {
        // A low corner of 0 gives poles at z = 1, one of them a hair outside the circle once
        // rounded to float, each cancelled by the zero at z = 1.
        {"0-1 Hz at 50", 50, 0, 1, FilterOutcome::AS_ASKED, "BP", 0, 1},
        {"0-5 Hz at 250", 250, 0, 5, FilterOutcome::AS_ASKED, "BP", 0, 5},
        {"1-10 Hz at 100", 100, 1, 10, FilterOutcome::AS_ASKED, "BP", 1, 10},
        // A pole at about -1.00024: the rule of a high corner at half the rate.
        {"1-49.99998 Hz at 100", 100, 1, 49.99998f, FilterOutcome::HIGH_PASS, "HP", 1, 0},
        {"1-50 Hz at 100", 100, 1, 50, FilterOutcome::HIGH_PASS, "HP", 1, 0},
        // Poles near z = 1 that really grow.
        {"0.001-5 Hz at 100", 100, 0.001f, 5, FilterOutcome::UNBOUNDED, nullptr, 0.001f, 5},
        {"0.002-0.02 Hz at 100", 100, 0.002f, 0.02f, FilterOutcome::UNBOUNDED, nullptr, 0.002f,
         0.02f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const float interval = static_cast<float>(1.0 / c.rate);
        EXPECT_EQ(CheckFilter(1.0 / c.rate, 0, 3, c.low, c.high), c.outcome);
        // An hour of noise of +-500 counts on an offset of 5000.
        const std::vector<float> x = Noise(static_cast<int>(3600 * c.rate), 5000, 1000);
        const std::vector<float> y = Filtered(x, c.rate, 0, 3, c.low, c.high);
        if (c.type == nullptr) {
            EXPECT_TRUE(SameBits(y, x));
            // Left raw for a reason: the cascade as designed leaves any bound far behind.
            EXPECT_GT(LargestMagnitude(ReferenceCascade(
                          x, DesignFilter(3, "BP", c.designLow, c.designHigh, interval))),
                      1e9);
            continue;
        }
        EXPECT_TRUE(SameBits(
            y, ReferenceCascade(x, DesignFilter(3, c.type, c.designLow, c.designHigh, interval))));
        EXPECT_LT(LargestMagnitude(y), 2000.0);
    }
}

TEST(FilterJoinedSamples, RunThatGoesOnSkipsMissingAndNonFiniteSamples) {
    std::vector<float> x = Sine(6000, 100, 3, 800, 10);
    // In the third array, which the second call filters going on from the first.
    const int skipped[] = {4500, 4600, 4700};
    x[4500] = MISSING_SAMPLE;
    x[4600] = std::numeric_limits<float>::quiet_NaN();
    x[4700] = std::numeric_limits<float>::infinity();
    const std::vector<float> y = FilteredJoined(x, 100, 0, 3, 1, 5, true);
    EXPECT_EQ(y[4500], MISSING_SAMPLE);
    for (int i = 0; i < static_cast<int>(y.size()); ++i) {
        if (std::find(std::begin(skipped), std::end(skipped), i) != std::end(skipped))
            continue;
        ASSERT_LT(std::fabs(y[i]), 1000.0f) << "sample " << i;
    }
}

TEST(FilterJoinedSamples, RefusesABandFromZeroThatDriftsOverItsRun) {
    // 0-1 Hz at 50 samples per second: bounded over an hour, drifting away over half a day.
    const double rate = 50;
    struct Case {
        const char* what;
        double hours;
        FilterOutcome outcome;
    } cases[] = {
        {"an hour", 1, FilterOutcome::AS_ASKED},
        {"two hours", 2, FilterOutcome::AS_ASKED},
        {"twelve hours", 12, FilterOutcome::UNBOUNDED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> x = Noise(static_cast<int>(c.hours * 3600 * rate), 5000, 200);
        // Three files laid end to end, filtered as one run.
        std::vector<float> y = x;
        const int third = static_cast<int>(y.size() / 3);
        float* arrays[3] = {y.data(), y.data() + third, y.data() + 2 * third};
        const int counts[3] = {third, third, static_cast<int>(y.size()) - 2 * third};
        FilterJoinedSamples(arrays, counts, 3, 1.0 / rate, 0, 3, 0, 1);
        EXPECT_EQ(CheckFilter(1.0 / rate, 0, 3, 0, 1, static_cast<long long>(x.size())), c.outcome);
        if (c.outcome == FilterOutcome::UNBOUNDED)
            EXPECT_TRUE(SameBits(y, x));
        else
            EXPECT_LT(LargestMagnitude(y), 2000.0);
    }
}

TEST(CheckFilter, FallsBackToHighPassWhereTheBandRingsNearHalfTheRate) {
    struct Case {
        double rate;
        float high;
        FilterOutcome outcome;
    } cases[] = {
        {100, 49.9f, FilterOutcome::AS_ASKED},  // its start rings under 200 times the input
        {100, 49.99f, FilterOutcome::HIGH_PASS}, {100, 49.999f, FilterOutcome::HIGH_PASS},
        {20, 9.9998f, FilterOutcome::HIGH_PASS}, {50, 24.9995f, FilterOutcome::HIGH_PASS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "1-" << c.high << " Hz at " << c.rate);
        EXPECT_EQ(CheckFilter(1.0 / c.rate, 0, 3, 1, c.high), c.outcome);
        // A minute of noise of +-100 counts: the band as asked rings far beyond it.
        const std::vector<float> x = Noise(static_cast<int>(60 * c.rate), 5000, 200);
        const std::vector<float> y = Filtered(x, c.rate, 0, 3, 1, c.high);
        EXPECT_LT(LargestMagnitude(y), c.outcome == FilterOutcome::AS_ASKED ? 1e5 : 1000.0);
        if (c.outcome == FilterOutcome::HIGH_PASS) {
            EXPECT_TRUE(
                SameBits(y, ReferenceCascade(
                                x, DesignFilter(3, "HP", 1, 0, static_cast<float>(1.0 / c.rate)))));
        }
    }
}
