// Triangle formulas, face quantities and the per-edge weight and unfolding coefficients. Inputs
// are widened to double, results narrowed to float when stored.
#include "mesh/geometry.h"

#include "mesh/diagnostics.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <sstream>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{

// A point of the plane in which an edge's two triangles are unfolded.
struct PlanePointT
{
    double x = 0.0;
    double y = 0.0;
};

double planeCross(PlanePointT p, PlanePointT q)
{
    return p.x * q.y - p.y * q.x;
}

PlanePointT minus(PlanePointT p, PlanePointT q)
{
    return {p.x - q.x, p.y - q.y};
}

double squaredDistance(const Vec3T& a, const Vec3T& b)
{
    Vec3dT d = Vec3dT(a) - Vec3dT(b);
    return dot(d, d);
}

// The diagnostic of placePoint when the distances do not fit; kept out of line so that the
// common case stays small enough to be inlined.
[[gnu::noinline, gnu::cold]] void reportBadSituation(double s, double bb, double cc)
{
    std::ostringstream text;
    text << "bad situation " << s << " " << bb << " " << cc;
    meshDiagnostic(text.str());
}

[[gnu::noinline, gnu::cold]] void reportDegenerateBase()
{
    meshDiagnostic("bad situation 2");
}

// The point at squared distance cc from q and bb from qPrime, on the left of q -> qPrime; q
// itself (with a diagnostic) when the base is degenerate or the distances do not fit.
inline PlanePointT placePoint(PlanePointT q, PlanePointT qPrime, double cc, double bb)
{
    PlanePointT u = minus(qPrime, q);
    double s = u.x * u.x + u.y * u.y;
    if (s <= 1e-20) [[unlikely]]
    {
        reportDegenerateBase();
        return q;
    }
    double e = (cc / s - bb / s + 1.0) / 2.0;
    double h = cc / s - e * e;
    if (h > -0.1) [[likely]]
    {
        double r = std::sqrt(std::max(h, 0.0));
        return {q.x + e * u.x - r * u.y, q.y + e * u.y + r * u.x};
    }
    reportBadSituation(s, bb, cc);
    return q;
}

// The weight of an edge whose faces have the normals n0 and n1 (see recomputeEdgeWeight).
float dihedralWeight(const Vec3T& n0, const Vec3T& n1, bool unitWeights)
{
    if (unitWeights)
    {
        return 1.0f;
    }
    const double x = dot(Vec3dT(n0), Vec3dT(n1));
    const double exponent = -10.0 * (1.0 - x) * (1.0 - x);
    // Faces this close to coplanar (turning by less than about half a degree) put 0.1 +
    // exp(exponent) within 2e-8 of 1.1, while the nearest values that round to another float lie
    // 3.5e-8 below and 8e-8 above it: the weight is that of a flat edge, and the exponential,
    // which a smooth mesh would otherwise evaluate for most of its edges, can be skipped.
    constexpr float kFlatWeight = float(0.1 + 1.0);
    return exponent > -1e-8 ? kFlatWeight : float(0.1 + std::exp(exponent));
}

#if defined(__SSE2__)

// Two doubles, one per edge of a pair: lane 0 for the first edge, lane 1 for the second. Each
// operation rounds in each lane exactly as the same operation on one double does.
using LanesT = __m128d;

LanesT lanes(double first, double second)
{
    return _mm_set_pd(second, first);
}

LanesT both(double value)
{
    return _mm_set1_pd(value);
}

double firstLane(LanesT v)
{
    return _mm_cvtsd_f64(v);
}

double secondLane(LanesT v)
{
    return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
}

// Whether no lane lies beyond the float range, where a conversion could round to the largest
// float instead of going to infinity as toStoredFloat does (a NaN lies within).
bool withinFloatRange(LanesT v)
{
    const LanesT magnitude = _mm_andnot_pd(both(-0.0), v);
    return _mm_movemask_pd(_mm_cmpgt_pd(magnitude, both(double(FLT_MAX)))) == 0;
}

// toStoredFloat in each lane: both at once unless a lane lies beyond the float range.
void storedFloats(LanesT v, float& first, float& second)
{
    if (withinFloatRange(v)) [[likely]]
    {
        const __m128 narrowed = _mm_cvtpd_ps(v);
        first = _mm_cvtss_f32(narrowed);
        second = _mm_cvtss_f32(_mm_shuffle_ps(narrowed, narrowed, 1));
        return;
    }
    first = toStoredFloat(firstLane(v));
    second = toStoredFloat(secondLane(v));
}

// toStoredFloat in each lane, widened back to double.
LanesT storedFloats(LanesT v)
{
    if (withinFloatRange(v)) [[likely]]
    {
        return _mm_cvtps_pd(_mm_cvtpd_ps(v));
    }
    return lanes(double(toStoredFloat(firstLane(v))), double(toStoredFloat(secondLane(v))));
}

// A Vec3dT in each lane.
struct LaneVectorsT
{
    LanesT x;
    LanesT y;
    LanesT z;
};

LaneVectorsT widened(const Vec3T& first, const Vec3T& second)
{
    return {lanes(first.x, second.x), lanes(first.y, second.y), lanes(first.z, second.z)};
}

LaneVectorsT minus(const LaneVectorsT& a, const LaneVectorsT& b)
{
    return {_mm_sub_pd(a.x, b.x), _mm_sub_pd(a.y, b.y), _mm_sub_pd(a.z, b.z)};
}

LanesT dot(const LaneVectorsT& a, const LaneVectorsT& b)
{
    return _mm_add_pd(_mm_add_pd(_mm_mul_pd(a.x, b.x), _mm_mul_pd(a.y, b.y)), _mm_mul_pd(a.z, b.z));
}

LaneVectorsT cross(const LaneVectorsT& a, const LaneVectorsT& b)
{
    return {_mm_sub_pd(_mm_mul_pd(a.y, b.z), _mm_mul_pd(a.z, b.y)),
            _mm_sub_pd(_mm_mul_pd(a.z, b.x), _mm_mul_pd(a.x, b.z)),
            _mm_sub_pd(_mm_mul_pd(a.x, b.y), _mm_mul_pd(a.y, b.x))};
}

// normalized in each lane: a lane shorter than kUnitLengthFloor keeps its vector.
LaneVectorsT normalized(const LaneVectorsT& v)
{
    const LanesT len = _mm_sqrt_pd(dot(v, v));
    const LanesT keep = _mm_cmplt_pd(len, both(kUnitLengthFloor));
    auto pick = [&](LanesT component) {
        return _mm_or_pd(_mm_and_pd(keep, component),
                         _mm_andnot_pd(keep, _mm_div_pd(component, len)));
    };
    return {pick(v.x), pick(v.y), pick(v.z)};
}

// unitNormal of the triangles (a, b, c) in each lane, before narrowing.
LaneVectorsT unitNormals(const LaneVectorsT& a, const LaneVectorsT& b, const LaneVectorsT& c)
{
    return normalized(cross(normalized(minus(b, a)), minus(c, a)));
}

// Vec3dT::toFloat in each lane.
void narrowed(const LaneVectorsT& v, Vec3T& first, Vec3T& second)
{
    storedFloats(v.x, first.x, second.x);
    storedFloats(v.y, first.y, second.y);
    storedFloats(v.z, first.z, second.z);
}

// squaredDistance in each lane.
LanesT squaredDistances(const LaneVectorsT& a, const LaneVectorsT& b)
{
    const LaneVectorsT d = minus(a, b);
    return dot(d, d);
}

// triangleArea in each lane, widened back to double.
LanesT triangleAreas(const LaneVectorsT& a, const LaneVectorsT& b, const LaneVectorsT& c)
{
    const LaneVectorsT normal = cross(minus(b, a), minus(c, a));
    return _mm_mul_pd(both(0.5), _mm_sqrt_pd(dot(normal, normal)));
}

// A PlanePointT in each lane.
struct PlanePointsT
{
    LanesT x;
    LanesT y;
};

PlanePointsT minus(PlanePointsT p, PlanePointsT q)
{
    return {_mm_sub_pd(p.x, q.x), _mm_sub_pd(p.y, q.y)};
}

LanesT planeCross(PlanePointsT p, PlanePointsT q)
{
    return _mm_sub_pd(_mm_mul_pd(p.x, q.y), _mm_mul_pd(p.y, q.x));
}

// placePoint in each lane, when neither lane has a degenerate base or distances that do not fit:
// returns false otherwise (`placed` then holds nothing of use, and the caller goes one edge at a
// time, so that the diagnostics come as they would). Nothing is tested before the end, so that
// the two unfoldings of a pair of edges can run side by side.
[[gnu::always_inline]] inline bool placePoints(PlanePointsT q, PlanePointsT qPrime, LanesT cc,
                                               LanesT bb, PlanePointsT& placed)
{
    const PlanePointsT u = minus(qPrime, q);
    const LanesT s = _mm_add_pd(_mm_mul_pd(u.x, u.x), _mm_mul_pd(u.y, u.y));
    const LanesT ccs = _mm_div_pd(cc, s);
    const LanesT e =
        _mm_div_pd(_mm_add_pd(_mm_sub_pd(ccs, _mm_div_pd(bb, s)), both(1.0)), both(2.0));
    const LanesT h = _mm_sub_pd(ccs, _mm_mul_pd(e, e));
    // Both lanes' bases above 1e-20 and both h above -0.1 (a NaN is neither).
    const LanesT fits = _mm_and_pd(_mm_cmpgt_pd(s, both(1e-20)), _mm_cmpgt_pd(h, both(-0.1)));
    // std::max(h, 0.0) keeps h when it is not below 0 (a -0 stays -0, whose root is -0).
    const LanesT r = _mm_sqrt_pd(lanes(std::max(firstLane(h), 0.0), std::max(secondLane(h), 0.0)));
    placed.x = _mm_sub_pd(_mm_add_pd(q.x, _mm_mul_pd(e, u.x)), _mm_mul_pd(r, u.y));
    placed.y = _mm_add_pd(_mm_add_pd(q.y, _mm_mul_pd(e, u.y)), _mm_mul_pd(r, u.x));
    return _mm_movemask_pd(fits) == 3;
}

#endif

} // namespace

Vec3T unitNormal(const Vec3T& a, const Vec3T& b, const Vec3T& c)
{
    Vec3dT u = normalized(Vec3dT(b) - Vec3dT(a));
    Vec3dT w = Vec3dT(c) - Vec3dT(a);
    return normalized(cross(u, w)).toFloat();
}

float triangleArea(const Vec3T& a, const Vec3T& b, const Vec3T& c)
{
    return toStoredFloat(0.5 * length(cross(Vec3dT(b) - Vec3dT(a), Vec3dT(c) - Vec3dT(a))));
}

float triangleShape(const Vec3T& a, const Vec3T& b, const Vec3T& c)
{
    double s = triangleArea(a, b, c);
    if (s < 1e-10)
    {
        return 1000.0f;
    }
    double la = std::sqrt(squaredDistance(a, b));
    double lb = std::sqrt(squaredDistance(b, c));
    double lc = std::sqrt(squaredDistance(c, a));
    return toStoredFloat((la + lb + lc) * std::max({la, lb, lc}) / s);
}

float lineDistance(const Vec3T& p, const Vec3T& a, const Vec3T& b)
{
    Vec3dT u = normalized(Vec3dT(b) - Vec3dT(a));
    Vec3dT v = Vec3dT(p) - Vec3dT(a);
    return toStoredFloat(length(v - u * dot(v, u)));
}

void faceCorners(const FaceT& face, const VertexT*& a, const VertexT*& b, const VertexT*& c)
{
    DedgeT d = face.dedge;
    a = d.org();
    b = d.dest();
    c = d.next().dest();
}

void faceGeometry(FaceT& face)
{
    const VertexT* a;
    const VertexT* b;
    const VertexT* c;
    faceCorners(face, a, b, c);
    face.normal = unitNormal(a->pos, b->pos, c->pos);
    face.area = triangleArea(a->pos, b->pos, c->pos);
}

void faceSavedNormal(FaceT& face)
{
    const VertexT* a;
    const VertexT* b;
    const VertexT* c;
    faceCorners(face, a, b, c);
    face.savedNormal = unitNormal(a->savedPos, b->savedPos, c->savedPos);
}

EdgeDiamondT edgeDiamond(const EdgeT& edge, bool fromSaved)
{
    auto position = [fromSaved](const VertexT* v) { return fromSaved ? &v->savedPos : &v->pos; };
    auto normal = [fromSaved](const FaceT* f) { return fromSaved ? &f->savedNormal : &f->normal; };
    return {position(edge.vert[0]),        position(edge.vert[1]), position(edge.next[0].dest()),
            position(edge.next[1].dest()), normal(edge.faceOf[0]), normal(edge.faceOf[1])};
}

bool recomputeEdgeWeight(EdgeT& edge, bool unitWeights, bool fromSaved)
{
    if (!hasBothFaces(edge))
    {
        return false;
    }
    const EdgeDiamondT diamond = edgeDiamond(edge, fromSaved);
    setEdgeQuantities(edge, *diamond.a, *diamond.b, *diamond.c, *diamond.d, *diamond.n0,
                      *diamond.n1, unitWeights);
    return true;
}

void setEdgeQuantities(EdgeT& edge, const Vec3T& a, const Vec3T& b, const Vec3T& c, const Vec3T& d,
                       const Vec3T& n0, const Vec3T& n1, bool unitWeights)
{
    edge.weight = dihedralWeight(n0, n1, unitWeights);

    double ell = std::sqrt(squaredDistance(a, b));
    PlanePointT a0{0.0, 0.0};
    PlanePointT b0{ell, 0.0};
    PlanePointT c0 = placePoint(a0, b0, squaredDistance(a, c), squaredDistance(b, c));
    PlanePointT d0 = placePoint(b0, a0, squaredDistance(b, d), squaredDistance(a, d));

    double alpha = toStoredFloat(planeCross(minus(b0, c0), minus(a0, c0)) - 1e-15);
    double beta = toStoredFloat(planeCross(minus(a0, d0), minus(b0, d0)) - 1e-15);
    double gamma = planeCross(minus(c0, a0), minus(d0, a0)) + 1e-15;
    double delta = planeCross(minus(d0, b0), minus(c0, b0)) + 1e-15;
    edge.kA = toStoredFloat(-delta * ell / (alpha * beta));
    edge.kB = toStoredFloat(-gamma * ell / (alpha * beta));
    edge.kC = toStoredFloat(ell / alpha);
    edge.kD = toStoredFloat(ell / beta);
}

void setEdgeQuantitiesPair(EdgeT& first, const EdgeDiamondT& p, EdgeT& second,
                           const EdgeDiamondT& q, bool unitWeights)
{
#if defined(__SSE2__)
    const LaneVectorsT a = widened(*p.a, *q.a);
    const LaneVectorsT b = widened(*p.b, *q.b);
    const LaneVectorsT c = widened(*p.c, *q.c);
    const LaneVectorsT d = widened(*p.d, *q.d);
    const LanesT ell = _mm_sqrt_pd(squaredDistances(a, b));
    const PlanePointsT a0{both(0.0), both(0.0)};
    const PlanePointsT b0{ell, both(0.0)};
    PlanePointsT c0;
    PlanePointsT d0;
    const bool cFits = placePoints(a0, b0, squaredDistances(a, c), squaredDistances(b, c), c0);
    const bool dFits = placePoints(b0, a0, squaredDistances(b, d), squaredDistances(a, d), d0);
    if (cFits && dFits)
    {
        const LanesT alpha =
            storedFloats(_mm_sub_pd(planeCross(minus(b0, c0), minus(a0, c0)), both(1e-15)));
        const LanesT beta =
            storedFloats(_mm_sub_pd(planeCross(minus(a0, d0), minus(b0, d0)), both(1e-15)));
        const LanesT gamma = _mm_add_pd(planeCross(minus(c0, a0), minus(d0, a0)), both(1e-15));
        const LanesT delta = _mm_add_pd(planeCross(minus(d0, b0), minus(c0, b0)), both(1e-15));
        const LanesT sign = both(-0.0);
        const LanesT product = _mm_mul_pd(alpha, beta);
        const LanesT kA = _mm_div_pd(_mm_mul_pd(_mm_xor_pd(delta, sign), ell), product);
        const LanesT kB = _mm_div_pd(_mm_mul_pd(_mm_xor_pd(gamma, sign), ell), product);
        const LanesT kC = _mm_div_pd(ell, alpha);
        const LanesT kD = _mm_div_pd(ell, beta);
        first.weight = dihedralWeight(*p.n0, *p.n1, unitWeights);
        second.weight = dihedralWeight(*q.n0, *q.n1, unitWeights);
        storedFloats(kA, first.kA, second.kA);
        storedFloats(kB, first.kB, second.kB);
        storedFloats(kC, first.kC, second.kC);
        storedFloats(kD, first.kD, second.kD);
        return;
    }
#endif
    setEdgeQuantities(first, *p.a, *p.b, *p.c, *p.d, *p.n0, *p.n1, unitWeights);
    setEdgeQuantities(second, *q.a, *q.b, *q.c, *q.d, *q.n0, *q.n1, unitWeights);
}

void unitNormalPair(const Vec3T* first[3], const Vec3T* second[3], Vec3T& firstNormal,
                    Vec3T& secondNormal)
{
#if defined(__SSE2__)
    narrowed(unitNormals(widened(*first[0], *second[0]), widened(*first[1], *second[1]),
                         widened(*first[2], *second[2])),
             firstNormal, secondNormal);
#else
    firstNormal = unitNormal(*first[0], *first[1], *first[2]);
    secondNormal = unitNormal(*second[0], *second[1], *second[2]);
#endif
}

void faceGeometryPair(FaceT& first, FaceT& second)
{
#if defined(__SSE2__)
    const VertexT* corners[2][3];
    faceCorners(first, corners[0][0], corners[0][1], corners[0][2]);
    faceCorners(second, corners[1][0], corners[1][1], corners[1][2]);
    const LaneVectorsT a = widened(corners[0][0]->pos, corners[1][0]->pos);
    const LaneVectorsT b = widened(corners[0][1]->pos, corners[1][1]->pos);
    const LaneVectorsT c = widened(corners[0][2]->pos, corners[1][2]->pos);
    narrowed(unitNormals(a, b, c), first.normal, second.normal);
    storedFloats(triangleAreas(a, b, c), first.area, second.area);
#else
    faceGeometry(first);
    faceGeometry(second);
#endif
}

void triangleShapePair(const Vec3T* first[3], const Vec3T* second[3], float& firstShape,
                       float& secondShape)
{
#if defined(__SSE2__)
    const LaneVectorsT a = widened(*first[0], *second[0]);
    const LaneVectorsT b = widened(*first[1], *second[1]);
    const LaneVectorsT c = widened(*first[2], *second[2]);
    const LanesT s = storedFloats(triangleAreas(a, b, c));
    if (_mm_movemask_pd(_mm_cmplt_pd(s, both(1e-10))) == 0) [[likely]]
    {
        const LanesT la = _mm_sqrt_pd(squaredDistances(a, b));
        const LanesT lb = _mm_sqrt_pd(squaredDistances(b, c));
        const LanesT lc = _mm_sqrt_pd(squaredDistances(c, a));
        // Lengths are never NaN, so the larger of two is the one std::max picks.
        const LanesT longest = _mm_max_pd(_mm_max_pd(la, lb), lc);
        const LanesT perimeter = _mm_add_pd(_mm_add_pd(la, lb), lc);
        storedFloats(_mm_div_pd(_mm_mul_pd(perimeter, longest), s), firstShape, secondShape);
        return;
    }
#endif
    firstShape = triangleShape(*first[0], *first[1], *first[2]);
    secondShape = triangleShape(*second[0], *second[1], *second[2]);
}
