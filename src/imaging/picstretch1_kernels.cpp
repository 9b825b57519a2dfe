// The seven resampling kernels and the kernel table.
//
// Every expression is evaluated in double and rounded to float with an explicit cast exactly at
// the points where a value is stored in single precision; nothing else is rounded. Changing where
// a cast sits changes output bytes, so the casts are part of the definition of each kernel.
#include "imaging/picstretch1.h"

#include <cmath>
#include <numbers>

namespace parvula::imaging {

float BoxFilter(float x)
{
    // Deliberately asymmetric, without an absolute value: x = 0.5 belongs to the box, x = -0.5
    // does not, so a pixel exactly between two source pixels takes the left one only.
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TriangleFilter(float x)
{
    const double ax = std::fabs(x);
    return ax < 1.0 ? static_cast<float>(1.0 - ax) : 0.0f;
}

float HermiteFilter(float x)
{
    const double ax = std::fabs(x);
    if (ax < 1.0)
        return static_cast<float>((2.0 * ax - 3.0) * ax * ax + 1.0);
    return 0.0f;
}

float BellFilter(float x)
{
    const double ax = std::fabs(x);
    if (ax < 0.5)
        return static_cast<float>(0.75 - ax * ax);
    if (ax < 1.5) {
        const float t = static_cast<float>(ax - 1.5);
        return static_cast<float>(0.5 * (static_cast<double>(t) * t));
    }
    return 0.0f;
}

float BSplineFilter(float x)
{
    const double ax = std::fabs(x);
    const float x2 = static_cast<float>(ax * ax);
    if (ax < 1.0)
        return static_cast<float>(0.5 * x2 * ax - x2 + 2.0 / 3.0);
    if (ax < 2.0) {
        const double t = static_cast<float>(2.0 - ax);
        return static_cast<float>(t * t * t / 6.0);
    }
    return 0.0f;
}

double SinC(float v)
{
    if (v == 0.0f)
        return 1.0;
    // pi * v in single precision: at whole v the sine is then a tiny non-zero value, not 0, and
    // that residue is part of the Lanczos3 weights.
    const double a = static_cast<float>(std::numbers::pi * v);
    return std::sin(a) / a;
}

float Lanczos3Filter(float x)
{
    const float ax = std::fabs(x);
    if (ax < 3.0f)
        return static_cast<float>(SinC(ax) * SinC(static_cast<float>(ax / 3.0)));
    return 0.0f;
}

float MitchellFilter(float x)
{
    // Mitchell-Netravali with B = C = 1/3; the polynomial is stored in float before the division.
    const double ax = std::fabs(x);
    const double x2 = static_cast<float>(ax * ax);
    if (ax < 1.0) {
        const double p = static_cast<float>(7.0 * (ax * x2) - 12.0 * x2 + 16.0 / 3.0);
        return static_cast<float>(p / 6.0);
    }
    if (ax < 2.0) {
        const double p
            = static_cast<float>(-7.0 / 3.0 * (ax * x2) + 12.0 * x2 - 20.0 * ax + 32.0 / 3.0);
        return static_cast<float>(p / 6.0);
    }
    return 0.0f;
}

const std::array<TKernelEntry, KernelCount> KernelTable { {
    { "none", nullptr, 0.0f },
    { "Box", BoxFilter, 0.5f },
    { "Triangle", TriangleFilter, 1.0f },
    { "Hermite", HermiteFilter, 1.0f },
    { "Bell", BellFilter, 1.5f },
    { "B-Spline", BSplineFilter, 2.0f },
    { "Lanczos3", Lanczos3Filter, 3.0f },
    { "Mitchell", MitchellFilter, 2.0f },
} };

} // namespace parvula::imaging
