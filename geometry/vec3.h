// The three-float vector every mesh, camera and light is made of, and the sine and
// cosine all generation and animation take their trigonometry from.
#pragma once
#include <cmath>

// Sine and cosine of an angle in radians: widened to double, evaluated by the C
// library, rounded back to float, so that every caller gets the same values.
inline float sinf32(float radians) { return static_cast<float>(std::sin(static_cast<double>(radians))); }
inline float cosf32(float radians) { return static_cast<float>(std::cos(static_cast<double>(radians))); }

// Single-precision arithmetic throughout; laid out as three packed floats because
// arrays of Vec3 go to GL unchanged.
struct Vec3 {
    float x, y, z;

    Vec3() = default;  // components undefined until written
    constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    // In place; yields a copy of the new value.
    Vec3 operator+=(const Vec3& b) {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }

    // Divides each component (not a multiply by 1/s); yields a copy of the new value.
    Vec3 operator/=(float s) {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    // (x*x + y*y) + z*z in float; the root is taken in double and rounded to float.
    float length() const {
        const float squares = (x * x + y * y) + z * z;
        return static_cast<float>(std::sqrt(static_cast<double>(squares)));
    }

    // Scales to unit length. A zero vector (an unused vertex's normal sum, or one too
    // small to square) stays as it is rather than turning into NaNs.
    void normalize() {
        const float len = length();
        if (len > 0.0f) *this /= len;
    }
};

static_assert(sizeof(Vec3) == 3 * sizeof(float), "Vec3 arrays are handed to GL packed");

inline Vec3 operator-(const Vec3& a, const Vec3& b) { return Vec3(a.x - b.x, a.y - b.y, a.z - b.z); }

inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return Vec3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
