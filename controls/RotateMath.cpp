#include "RotateMath.h"

#include <climits>
#include <cmath>

#include "Exceptions.h"

namespace rotation {

namespace {

// The 80-bit constant the angle conversion has always used.
constexpr long double Pi = 3.14159265358979323851L;

} // namespace

void RaiseIntOverflow() {
    throw MakeIntOverflow();
}

std::int32_t RoundHalfEven(long double v) {
    if (!std::isfinite(v) || v < -2147483648.5L || v > 2147483647.5L)
        RaiseIntOverflow();
    long double r = std::floor(v);
    const long double frac = v - r;
    if (frac > 0.5L || (frac == 0.5L && std::fmod(r, 2.0L) != 0))
        r += 1;
    return Fit32(std::int64_t(r));
}

void RequireFiniteAngle(long double angle) {
    if (!std::isfinite(angle))
        throw Exception("Invalid rotation angle: the angle must be a finite number of degrees");
}

long double Radians(long double normalised) {
    return (-normalised) * Pi / 180.0L;
}

// For even sizes the corrections at exactly 0 and +-90 keep the unturned picture and the two
// exact quarter turns free of background; 270 and -270 deliberately do not take them.
TCentre CentreOf(std::int32_t rw, std::int32_t rh, long double a) {
    TCentre c{rw / 2, rh / 2};
    if (rw % 2 == 0 && (a == 0 || a == -90))
        c.cx = CheckedSub(c.cx, 1);
    if (rh % 2 == 0 && (a == 0 || a == 90))
        c.cy = CheckedSub(c.cy, 1);
    return c;
}

std::int32_t DiagonalOf(std::int32_t w, std::int32_t h) {
    const std::int32_t sum = CheckedAdd(CheckedMul(w, w), CheckedMul(h, h));
    return RoundHalfEven(std::sqrt(static_cast<long double>(sum)));
}

} // namespace rotation

namespace {

// The rounded quotient, or nothing when there is none or it does not fit.
bool TryMulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator,
               std::int32_t &result) {
    if (denominator == 0)
        return false;
    std::int64_t n = number, d = denominator;
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const std::int64_t product = n * numerator;
    const std::int64_t ret = product >= 0 ? (product + d / 2) / d : (product - d / 2) / d;
    if (ret > INT32_MAX || ret < -INT32_MAX)
        return false;
    result = std::int32_t(ret);
    return true;
}

} // namespace

int MulDiv(int number, int numerator, int denominator) {
    std::int32_t r;
    return TryMulDiv(number, numerator, denominator, r) ? r : -1;
}

std::int32_t CheckedMulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator) {
    std::int32_t r;
    if (!TryMulDiv(number, numerator, denominator, r))
        rotation::RaiseIntOverflow();
    return r;
}

long double NormalizeAngle(long double angle) {
    const long double q = angle / 360.0L;
    return (q - std::trunc(q)) * 360.0L;
}
