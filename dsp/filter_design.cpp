#include <cmath>
#include <cstring>
#include <type_traits>

#include "dsp/filter.h"

namespace {

// The drawn traces depend on the coefficients to the last bit, so every constant and every
// rounding step below is fixed: coefficients, warped corners and the band constants are
// floats, pole coordinates are float values held as doubles, complex arithmetic is double.
// The precise design takes the same steps with every float a double.
constexpr float PI_FLOAT = 3.1415927f;
constexpr double PI_DOUBLE = 3.141592653589793;
constexpr double TWO_PI = 6.283185307179586;
constexpr double TWO_PI_CUTOFF = 6.2831853;
constexpr int MAX_POLES = 10;

// The constants of a design whose coefficients are of type Real: pi, and the 2 pi that
// moves a low-pass or high-pass to its cutoff.
template <typename Real>
struct DesignConstants;

template <>
struct DesignConstants<float> {
    static constexpr float PI = PI_FLOAT;
    static constexpr double CUTOFF_TWO_PI = TWO_PI_CUTOFF;
};

template <>
struct DesignConstants<double> {
    static constexpr double PI = PI_DOUBLE;
    static constexpr double CUTOFF_TWO_PI = TWO_PI;
};

struct Complex {
    double re;
    double im;
};

Complex Add(Complex x, Complex y) { return {x.re + y.re, x.im + y.im}; }

Complex Subtract(Complex x, Complex y) { return {x.re - y.re, x.im - y.im}; }

Complex Multiply(Complex x, Complex y) {
    return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re};
}

template <typename Real>
Complex Scale(Real factor, Complex x) {
    return {factor * x.re, factor * x.im};
}

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

// The type of a design's coefficients: float for FilterSections, double for
// PreciseFilterSections.
template <typename Sections>
using RealOf = std::remove_all_extents_t<decltype(Sections::numerator)>;

// Lists the poles of the order-n Butterworth low-pass with unit cutoff: the real pole
// first for odd n, then the pairs from the one nearest the imaginary axis outwards.
template <typename Real>
PoleList ButterworthPoles(int n) {
    PoleList list;
    if (n % 2 == 1)
        list.poles[list.count++] = {{-1.0, 0.0}, false};
    const int half = n / 2;
    for (int k = 0; k < half && list.count < MAX_POLES; ++k) {
        const Real theta = DesignConstants<Real>::PI *
                           (static_cast<Real>(2 * k + 1) / static_cast<Real>(2 * n) + Real(0.5));
        list.poles[list.count++] = {{std::cos(theta), std::sin(theta)}, true};
    }
    return list;
}

// Pre-warps a frequency given in cycles per t-second step for the bilinear transform.
template <typename Real>
Real WarpFrequency(Real f, Real t) {
    const double angular = TWO_PI * f * t / 2.0;
    return static_cast<Real>(2.0 * std::tan(angular) / t / TWO_PI);
}

// Warps a corner in Hz for a sampling interval in seconds: tan(pi corner T) / (2 pi).
template <typename Real>
Real WarpCorner(Real corner, Real sampleInterval) {
    return WarpFrequency(corner * sampleInterval / Real(2), Real(2));
}

// Appends one analog section, numerator and denominator as ascending powers of s.
template <typename Sections, typename Real = RealOf<Sections>>
void AppendSection(Sections& sections, Real n0, Real n1, Real n2, Real d0, Real d1, Real d2) {
    Real* numerator = sections.numerator + 3 * sections.sectionCount;
    Real* denominator = sections.denominator + 3 * sections.sectionCount;
    numerator[0] = n0;
    numerator[1] = n1;
    numerator[2] = n2;
    denominator[0] = d0;
    denominator[1] = d1;
    denominator[2] = d2;
    ++sections.sectionCount;
}

// Appends the section of one pole of a conjugate pair: denominator (s - p)(s - conj p).
template <typename Sections, typename Real = RealOf<Sections>>
void AppendPairSection(Sections& sections, Real n0, Real n1, Real n2, Complex p) {
    AppendSection(sections, n0, n1, n2, static_cast<Real>(SquaredMagnitude(p)),
                  static_cast<Real>(-2.0 * p.re), Real(1));
}

template <typename Sections, typename Real = RealOf<Sections>>
void MapLowPass(const PoleList& poles, Sections& sections) {
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair)
            AppendPairSection(sections, Real(1), Real(0), Real(0), p);
        else
            AppendSection(sections, Real(1), Real(0), Real(0), static_cast<Real>(-p.re), Real(1),
                          Real(0));
    }
}

template <typename Sections, typename Real = RealOf<Sections>>
void MapHighPass(const PoleList& poles, Sections& sections) {
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair)
            AppendSection(sections, Real(0), Real(0), Real(1), Real(1),
                          static_cast<Real>(-2.0 * p.re), static_cast<Real>(SquaredMagnitude(p)));
        else
            AppendSection(sections, Real(0), Real(1), Real(0), Real(1), static_cast<Real>(-p.re),
                          Real(0));
    }
}

// The roots of s^2 - q s + a: (q + r) / 2 and (q - r) / 2 with r = sqrt(q^2 - 4a).
template <typename Real>
void SplitPair(Complex q, Real a, Complex& p1, Complex& p2) {
    const Complex r = SquareRoot(Subtract(Multiply(q, q), {4.0 * a, 0.0}));
    p1 = Scale(Real(0.5), Add(q, r));
    p2 = Scale(Real(0.5), Subtract(q, r));
}

// Maps the prototype onto the band between the warped corners: s -> (s^2 + a) / (b s).
template <typename Sections, typename Real = RealOf<Sections>>
void MapBandPass(const PoleList& poles, Real flw, Real fhw, Sections& sections) {
    const Real twoPi = DesignConstants<Real>::PI + DesignConstants<Real>::PI;
    const Real a = twoPi * twoPi * flw * fhw;
    const Real b = twoPi * (fhw - flw);
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair) {
            Complex p1;
            Complex p2;
            SplitPair(Scale(b, p), a, p1, p2);
            AppendPairSection(sections, Real(0), b, Real(0), p1);
            AppendPairSection(sections, Real(0), b, Real(0), p2);
        } else {
            AppendSection(sections, Real(0), b, Real(0), a, static_cast<Real>(-b * p.re), Real(1));
        }
    }
}

// Maps the prototype onto the rejected band between the warped corners:
// s -> b s / (s^2 + a).
template <typename Sections, typename Real = RealOf<Sections>>
void MapBandReject(const PoleList& poles, Real flw, Real fhw, Sections& sections) {
    const Real twoPi = DesignConstants<Real>::PI + DesignConstants<Real>::PI;
    const Real a = twoPi * twoPi * flw * fhw;
    const Real b = twoPi * (fhw - flw);
    for (int i = 0; i < poles.count; ++i) {
        const Complex p = poles.poles[i].value;
        if (poles.poles[i].pair) {
            Complex p1;
            Complex p2;
            SplitPair(Scale(b, Divide({1.0, 0.0}, p)), a, p1, p2);
            AppendPairSection(sections, a, Real(0), Real(1), p1);
            AppendPairSection(sections, a, Real(0), Real(1), p2);
        } else {
            AppendSection(sections, a, Real(0), Real(1), static_cast<Real>(-a * p.re), b,
                          static_cast<Real>(-p.re));
        }
    }
}

// Moves the unit cutoff of a low-pass or high-pass to the warped frequency f.
template <typename Sections, typename Real = RealOf<Sections>>
void ScaleToCutoff(Real f, Sections& sections) {
    const Real w = static_cast<Real>(f * DesignConstants<Real>::CUTOFF_TWO_PI);
    const Real w2 = w * w;
    for (int i = 0; i < sections.sectionCount; ++i) {
        sections.numerator[3 * i + 1] /= w;
        sections.denominator[3 * i + 1] /= w;
        sections.numerator[3 * i + 2] /= w2;
        sections.denominator[3 * i + 2] /= w2;
    }
}

// Substitutes s = (1 - z^-1) / (1 + z^-1) in every section and normalises the leading
// denominator coefficient to 1.
template <typename Sections, typename Real = RealOf<Sections>>
void BilinearTransform(Sections& sections) {
    for (int i = 0; i < sections.sectionCount; ++i) {
        Real* numerator = sections.numerator + 3 * i;
        Real* denominator = sections.denominator + 3 * i;
        const Real a0 = denominator[0];
        const Real a1 = denominator[1];
        const Real a2 = denominator[2];
        const Real b0 = numerator[0];
        const Real b1 = numerator[1];
        const Real b2 = numerator[2];
        const Real d = a0 + a1 + a2;
        denominator[0] = Real(1);
        denominator[1] = Real(2) * (a0 - a2) / d;
        denominator[2] = (a0 - a1 + a2) / d;
        numerator[0] = (b0 + b1 + b2) / d;
        numerator[1] = Real(2) * (b0 - b2) / d;
        numerator[2] = (b0 - b1 + b2) / d;
    }
}

bool IsType(const char* type, const char* code) { return std::strncmp(type, code, 2) == 0; }

template <typename Sections, typename Real = RealOf<Sections>>
Sections Design(int order, const char* type, Real low, Real high, Real sampleInterval) {
    Sections sections;
    if (type == nullptr || order < 1 || order > MAX_POLES)
        return sections;
    const PoleList poles = ButterworthPoles<Real>(order);
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

}  // namespace

FilterSections DesignFilter(int order, const char* type, float low, float high,
                            float sampleInterval) {
    return Design<FilterSections>(order, type, low, high, sampleInterval);
}

PreciseFilterSections DesignPreciseFilter(int order, const char* type, double low, double high,
                                          double sampleInterval) {
    return Design<PreciseFilterSections>(order, type, low, high, sampleInterval);
}
