#include <cmath>
#include <cstring>

#include "dsp/filter.h"

namespace {

// The drawn traces depend on the coefficients to the last bit, so every constant and every
// rounding step below is fixed: coefficients, warped corners and the band constants are
// floats, pole coordinates are float values held as doubles, complex arithmetic is double.
constexpr float PI_FLOAT = 3.1415927f;
constexpr double TWO_PI = 6.283185307179586;
constexpr double TWO_PI_CUTOFF = 6.2831853;
constexpr int MAX_POLES = 10;

struct Complex {
    double re;
    double im;
};

Complex Add(Complex x, Complex y) { return {x.re + y.re, x.im + y.im}; }

Complex Subtract(Complex x, Complex y) { return {x.re - y.re, x.im - y.im}; }

Complex Multiply(Complex x, Complex y) {
    return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re};
}

Complex Scale(float factor, Complex x) { return {factor * x.re, factor * x.im}; }

Complex Conjugate(Complex x) { return {x.re, -x.im}; }

Complex Divide(Complex x, Complex y) {
    const double d = y.re * y.re + y.im * y.im;
    return {(x.re * y.re + x.im * y.im) / d, (x.im * y.re - x.re * y.im) / d};
}

Complex SquareRoot(Complex x) {
    const double modulus = std::sqrt(std::sqrt(x.re * x.re + x.im * x.im));
    const double halfAngle = std::atan2(x.im, x.re) / 2.0;
    return {modulus * std::cos(halfAngle), modulus * std::sin(halfAngle)};
}

// The squared magnitude, taken as the real part of p times its conjugate.
double SquaredMagnitude(Complex p) { return Multiply(p, Conjugate(p)).re; }

// One pole of the analog Butterworth prototype: a single real pole, or a conjugate pair
// represented by its member with positive imaginary part.
struct AnalogPole {
    Complex value;
    bool pair;
};

struct PoleList {
    AnalogPole poles[MAX_POLES];
    int count = 0;
};

// Lists the poles of the order-n Butterworth low-pass with unit cutoff: the real pole
// first for odd n, then the pairs from the one nearest the imaginary axis outwards.
PoleList ButterworthPoles(int n) {
    PoleList list;
    if (n % 2 == 1)
        list.poles[list.count++] = {{-1.0, 0.0}, false};
    const int half = n / 2;
    for (int k = 0; k < half && list.count < MAX_POLES; ++k) {
        const float theta =
            PI_FLOAT * (static_cast<float>(2 * k + 1) / static_cast<float>(2 * n) + 0.5f);
        list.poles[list.count++] = {{std::cos(theta), std::sin(theta)}, true};
    }
    return list;
}

// Pre-warps a frequency given in cycles per t-second step for the bilinear transform.
float WarpFrequency(float f, float t) {
    const double angular = TWO_PI * f * t / 2.0;
    return static_cast<float>(2.0 * std::tan(angular) / t / TWO_PI);
}

// Warps a corner in Hz for a sampling interval in seconds: tan(pi corner T) / (2 pi).
float WarpCorner(float corner, float sampleInterval) {
    return WarpFrequency(corner * sampleInterval / 2.0f, 2.0f);
}

// Appends one analog section, numerator and denominator as ascending powers of s.
void AppendSection(FilterSections& sections, float n0, float n1, float n2, float d0, float d1,
                   float d2) {
    float* numerator = sections.numerator + 3 * sections.sectionCount;
    float* denominator = sections.denominator + 3 * sections.sectionCount;
    numerator[0] = n0;
    numerator[1] = n1;
    numerator[2] = n2;
    denominator[0] = d0;
    denominator[1] = d1;
    denominator[2] = d2;
    ++sections.sectionCount;
}

// Appends the section of one pole of a conjugate pair: denominator (s - p)(s - conj p).
void AppendPairSection(FilterSections& sections, float n0, float n1, float n2, Complex p) {
    AppendSection(sections, n0, n1, n2, static_cast<float>(SquaredMagnitude(p)),
                  static_cast<float>(-2.0 * p.re), 1.0f);
}

void MapLowPass(const PoleList& poles, FilterSections& sections) {
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair)
            AppendPairSection(sections, 1.0f, 0.0f, 0.0f, p);
        else
            AppendSection(sections, 1.0f, 0.0f, 0.0f, static_cast<float>(-p.re), 1.0f, 0.0f);
    }
}

void MapHighPass(const PoleList& poles, FilterSections& sections) {
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair)
            AppendSection(sections, 0.0f, 0.0f, 1.0f, 1.0f, static_cast<float>(-2.0 * p.re),
                          static_cast<float>(SquaredMagnitude(p)));
        else
            AppendSection(sections, 0.0f, 1.0f, 0.0f, 1.0f, static_cast<float>(-p.re), 0.0f);
    }
}

// The roots of s^2 - q s + a: (q + r) / 2 and (q - r) / 2 with r = sqrt(q^2 - 4a).
void SplitPair(Complex q, float a, Complex& p1, Complex& p2) {
    const Complex r = SquareRoot(Subtract(Multiply(q, q), {4.0 * a, 0.0}));
    p1 = Scale(0.5f, Add(q, r));
    p2 = Scale(0.5f, Subtract(q, r));
}

// Maps the prototype onto the band between the warped corners: s -> (s^2 + a) / (b s).
void MapBandPass(const PoleList& poles, float flw, float fhw, FilterSections& sections) {
    const float twoPi = PI_FLOAT + PI_FLOAT;
    const float a = twoPi * twoPi * flw * fhw;
    const float b = twoPi * (fhw - flw);
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair) {
            Complex p1;
            Complex p2;
            SplitPair(Scale(b, p), a, p1, p2);
            AppendPairSection(sections, 0.0f, b, 0.0f, p1);
            AppendPairSection(sections, 0.0f, b, 0.0f, p2);
        } else {
            AppendSection(sections, 0.0f, b, 0.0f, a, static_cast<float>(-b * p.re), 1.0f);
        }
    }
}

// Maps the prototype onto the rejected band between the warped corners:
// s -> b s / (s^2 + a).
void MapBandReject(const PoleList& poles, float flw, float fhw, FilterSections& sections) {
    const float twoPi = PI_FLOAT + PI_FLOAT;
    const float a = twoPi * twoPi * flw * fhw;
    const float b = twoPi * (fhw - flw);
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair) {
            Complex p1;
            Complex p2;
            SplitPair(Scale(b, Divide({1.0, 0.0}, p)), a, p1, p2);
            AppendPairSection(sections, a, 0.0f, 1.0f, p1);
            AppendPairSection(sections, a, 0.0f, 1.0f, p2);
        } else {
            AppendSection(sections, a, 0.0f, 1.0f, static_cast<float>(-a * p.re), b,
                          static_cast<float>(-p.re));
        }
    }
}

// Moves the unit cutoff of a low-pass or high-pass to the warped frequency f.
void ScaleToCutoff(float f, FilterSections& sections) {
    const float w = static_cast<float>(f * TWO_PI_CUTOFF);
    const float w2 = w * w;
    for (int i = 0; i < sections.sectionCount; ++i) {
        sections.numerator[3 * i + 1] /= w;
        sections.denominator[3 * i + 1] /= w;
        sections.numerator[3 * i + 2] /= w2;
        sections.denominator[3 * i + 2] /= w2;
    }
}

// Substitutes s = (1 - z^-1) / (1 + z^-1) in every section and normalises the leading
// denominator coefficient to 1.
void BilinearTransform(FilterSections& sections) {
    for (int i = 0; i < sections.sectionCount; ++i) {
        float* numerator = sections.numerator + 3 * i;
        float* denominator = sections.denominator + 3 * i;
        const float a0 = denominator[0];
        const float a1 = denominator[1];
        const float a2 = denominator[2];
        const float b0 = numerator[0];
        const float b1 = numerator[1];
        const float b2 = numerator[2];
        const float d = a0 + a1 + a2;
        denominator[0] = 1.0f;
        denominator[1] = 2.0f * (a0 - a2) / d;
        denominator[2] = (a0 - a1 + a2) / d;
        numerator[0] = (b0 + b1 + b2) / d;
        numerator[1] = 2.0f * (b0 - b2) / d;
        numerator[2] = (b0 - b1 + b2) / d;
    }
}

bool IsType(const char* type, const char* code) { return std::strncmp(type, code, 2) == 0; }

}  // namespace

FilterSections DesignFilter(int order, const char* type, float low, float high,
                            float sampleInterval) {
    FilterSections sections;
    if (type == nullptr || order < 1 || order > MAX_POLES)
        return sections;
    const PoleList poles = ButterworthPoles(order);
    if (IsType(type, "BP")) {
        MapBandPass(poles, WarpCorner(low, sampleInterval), WarpCorner(high, sampleInterval),
                    sections);
    } else if (IsType(type, "BR")) {
        MapBandReject(poles, WarpCorner(low, sampleInterval), WarpCorner(high, sampleInterval),
                      sections);
    } else if (IsType(type, "LP")) {
        MapLowPass(poles, sections);
        ScaleToCutoff(WarpCorner(high, sampleInterval), sections);
    } else if (IsType(type, "HP")) {
        MapHighPass(poles, sections);
        ScaleToCutoff(WarpCorner(low, sampleInterval), sections);
    } else {
        return sections;
    }
    BilinearTransform(sections);
    return sections;
}
