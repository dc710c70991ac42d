// Triangle formulas, face quantities and the per-edge weight and unfolding coefficients. Inputs
// are widened to double, results narrowed to float when stored.
#include "mesh/geometry.h"

#include "mesh/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <sstream>

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

bool recomputeEdgeWeight(EdgeT& edge, bool unitWeights, bool fromSaved)
{
    FaceT* f0 = edge.faceOf[0];
    FaceT* f1 = edge.faceOf[1];
    if (f0 == nullptr || f1 == nullptr || edge.next[0].isNull() || edge.next[1].isNull())
    {
        return false;
    }
    auto position = [fromSaved](const VertexT* v) -> const Vec3T&
    { return fromSaved ? v->savedPos : v->pos; };
    setEdgeQuantities(edge, position(edge.vert[0]), position(edge.vert[1]),
                      position(edge.next[0].dest()), position(edge.next[1].dest()),
                      fromSaved ? f0->savedNormal : f0->normal,
                      fromSaved ? f1->savedNormal : f1->normal, unitWeights);
    return true;
}

void setEdgeQuantities(EdgeT& edge, const Vec3T& a, const Vec3T& b, const Vec3T& c, const Vec3T& d,
                       const Vec3T& n0, const Vec3T& n1, bool unitWeights)
{
    if (unitWeights)
    {
        edge.weight = 1.0f;
    }
    else
    {
        const double x = dot(Vec3dT(n0), Vec3dT(n1));
        const double exponent = -10.0 * (1.0 - x) * (1.0 - x);
        // Faces this close to coplanar (turning by less than about half a degree) put 0.1 +
        // exp(exponent) within 2e-8 of 1.1, while the nearest values that round to another float
        // lie 3.5e-8 below and 8e-8 above it: the weight is that of a flat edge, and the
        // exponential, which a smooth mesh would otherwise evaluate for most of its edges, can
        // be skipped.
        constexpr float kFlatWeight = float(0.1 + 1.0);
        edge.weight = exponent > -1e-8 ? kFlatWeight : float(0.1 + std::exp(exponent));
    }

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
