#pragma once

// Vectors of the mesh core: positions and normals are stored as three 32-bit floats (`Vec3T`);
// computations run in double precision (`Vec3dT`) and are stored back as floats.

#include <cfloat>
#include <cmath>
#include <limits>

// A computed value narrowed to a stored float; values beyond the float range become infinities
// of their sign (as the hardware does, but without relying on an out-of-range conversion).
inline float toStoredFloat(double v)
{
    if (v > double(FLT_MAX))
    {
        return std::numeric_limits<float>::infinity();
    }
    if (v < -double(FLT_MAX))
    {
        return -std::numeric_limits<float>::infinity();
    }
    return float(v);
}

// A stored vector: three 32-bit floats.
struct Vec3T
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    friend bool operator==(const Vec3T&, const Vec3T&) = default;
};

// A vector for computations, in double precision.
struct Vec3dT
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vec3dT() = default;
    Vec3dT(double ax, double ay, double az)
        : x(ax)
        , y(ay)
        , z(az)
    {
    }
    // Widens a stored vector.
    explicit Vec3dT(const Vec3T& v)
        : x(v.x)
        , y(v.y)
        , z(v.z)
    {
    }

    double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    Vec3dT operator+(const Vec3dT& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3dT operator-(const Vec3dT& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3dT operator-() const { return {-x, -y, -z}; }
    Vec3dT operator*(double s) const { return {x * s, y * s, z * s}; }
    Vec3dT operator/(double s) const { return {x / s, y / s, z / s}; }
    Vec3dT& operator+=(const Vec3dT& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vec3dT& operator-=(const Vec3dT& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    // Narrows to a stored vector.
    Vec3T toFloat() const { return {toStoredFloat(x), toStoredFloat(y), toStoredFloat(z)}; }
};

inline Vec3dT operator*(double s, const Vec3dT& v)
{
    return v * s;
}

inline double dot(const Vec3dT& a, const Vec3dT& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Vec3dT cross(const Vec3dT& a, const Vec3dT& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double length(const Vec3dT& v)
{
    return std::sqrt(dot(v, v));
}

// Smallest length at which a vector is scaled to unit length; shorter vectors stay as they are.
constexpr double kUnitLengthFloor = 1e-25;

// v scaled to unit length, or v unchanged when its length is below kUnitLengthFloor.
inline Vec3dT normalized(const Vec3dT& v)
{
    double len = length(v);
    return len < kUnitLengthFloor ? v : v / len;
}
