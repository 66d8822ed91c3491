// The arithmetic the bitmap rotation and the picture control share: 32-bit integer results are
// checked (an overflow raises EIntOverflow instead of wrapping), roundings go halves to even,
// and one rule places the centre of a turned bitmap.
#pragma once

#include <cstdint>

// number * numerator / denominator with a 64-bit product, rounded to the nearest integer with
// halves away from zero; -1 when denominator is 0 or the result does not fit in 32 bits.
int MulDiv(int number, int numerator, int denominator);

// MulDiv for sizes: the same rounding, but a zero denominator or a result beyond 32 bits
// raises EIntOverflow instead of answering -1, which would be taken for a size.
std::int32_t CheckedMulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator);

// The angle reduced to the open interval (-360, 360), keeping its sign: 450 -> 90,
// -90 -> -90, 270 -> 270, -270 -> -270, 720 -> 0.
long double NormalizeAngle(long double angle);

namespace rotation {

[[noreturn]] void RaiseIntOverflow();

inline std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_add_overflow(a, b, &r))
        RaiseIntOverflow();
    return r;
}

inline std::int32_t CheckedSub(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_sub_overflow(a, b, &r))
        RaiseIntOverflow();
    return r;
}

inline std::int32_t CheckedMul(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_mul_overflow(a, b, &r))
        RaiseIntOverflow();
    return r;
}

inline std::int32_t Fit32(std::int64_t v) {
    if (v < INT32_MIN || v > INT32_MAX)
        RaiseIntOverflow();
    return std::int32_t(v);
}

// Nearest integer, halves to even, whatever the FPU's rounding mode happens to be.
std::int32_t RoundHalfEven(long double v);

// Raises Exception for an angle that is not a finite number of degrees.
void RequireFiniteAngle(long double angle);

// The working angle in radians of a normalised angle: negated, so that a positive angle turns
// counter-clockwise on the screen.
long double Radians(long double normalised);

struct TCentre {
    std::int32_t cx, cy;
};

// The middle pixel of a turned bitmap of rw x rh for the normalised angle a.
TCentre CentreOf(std::int32_t rw, std::int32_t rh, long double a);

// The picture's diagonal, rounded.
std::int32_t DiagonalOf(std::int32_t w, std::int32_t h);

} // namespace rotation
