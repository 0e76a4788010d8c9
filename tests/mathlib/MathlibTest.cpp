// Math library: normalisation extremes, and rotations in every form.
#include "ML_Maths"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>

namespace {

const float kPi = 3.14159265f;

void ExpectNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// Equal or opposite component-wise: the same rotation.
bool SameRotation(const Quaternion &a, const Quaternion &b, float tol)
{
    float plus = 0, minus = 0;
    for (const auto &[p, q] : {std::pair{a.w, b.w}, {a.x, b.x}, {a.y, b.y}, {a.z, b.z}})
        plus += std::fabs(p - q), minus += std::fabs(p + q);
    return plus <= tol || minus <= tol;
}

struct Random
{
    std::mt19937 gen{12345};
    std::normal_distribution<float> normal{0.0f, 1.0f};
    Quaternion Unit()
    {
        Quaternion q(normal(gen), normal(gen), normal(gen), normal(gen));
        q.normalize();
        return q;
    }
    Vector3 Vector(float scale) { return Vector3(normal(gen), normal(gen), normal(gen)) * scale; }
};

TEST(Mathlib, NormalizeAndAngleBetweenSurviveExtremeInputs)
{
    const float h = 0.70710678f;
    const Vector3 cases[][2] = {{Vector3(), Vector3()}, {Vector3(1e30f, 1e30f, 0), Vector3(h, h, 0)},
                                {Vector3(-1e-30f, 0, 1e-30f), Vector3(-h, 0, h)},
                                {Vector3(3e35f, 0, -4e35f), Vector3(0.6f, 0, -0.8f)}};
    for (const auto &c : cases) {
        Vector3 v = c[0];
        v.normalize();
        ExpectNear(v, c[1], 1e-6f);
        ExpectNear(normalized(c[0]), c[1], 1e-6f);
    }
    EXPECT_NEAR(angleBetween(Vector3(1, 0, 0), Vector3(0, 0, 5)), kPi / 2, 1e-6f);
    Quaternion tiny(1e-19f, 0, 0, 0); // a denormal squared norm still normalises
    tiny.normalize();
    EXPECT_NEAR(tiny.w, 1.0f, 1e-5f);
}

// Fixed rotations pin the conventions and the matrix branches; random ones
// agree composed, as matrices, lookRotation, slerp and inverted Transforms.
TEST(Mathlib, RotationsAgreeInEveryFormAndRoundTripThroughMatrices)
{
    const Quaternion id;
    for (const Vector3 &axis : {Vector3(0, 1, 0), Vector3(), Vector3(3, -7, INFINITY)}) {
        const Quaternion q = fromAxisAngle(axis, 0.0f); // bit for bit the identity
        EXPECT_EQ(std::memcmp(&q, &id, sizeof q), 0);
    }
    ExpectNear(rotateVector(fromAxisAngle(Vector3(0, 0, 1), kPi / 2), Vector3(1, 0, 0)), Vector3(0, 1, 0), 1e-6f);
    EXPECT_TRUE(SameRotation(lookRotation(Vector3(1, 0, 0), Vector3(0, 1, 0)), fromAxisAngle(Vector3(0, 1, 0), -kPi / 2), 1e-6f));
    const Quaternion b = fromAxisAngle(normalized(Vector3(1, 2, -1)), 2.0f);
    EXPECT_NEAR(dot(slerp(b, Quaternion(-b.w, -b.x, -b.y, -b.z), 0.5f, 0), b), 1.0f, 1e-5f);
    const float t = 0.57735027f; // half turns, a three-way diagonal tie, trace 0, a near half turn
    for (const Quaternion &q : {Quaternion(0, 1, 0, 0), Quaternion(0, 0, 1, 0), Quaternion(0, 0, 0, 1),
                                Quaternion(0, t, t, t), fromAxisAngle(Vector3(0, 1, 0), 2.0f * kPi / 3.0f),
                                fromAxisAngle(normalized(Vector3(1, 5e-4f, 1e-3f)), kPi)})
        EXPECT_TRUE(SameRotation(fromMatrix(toMatrix3(q)), q, 1e-5f));

    Random rnd;
    int positiveTrace = 0; // both branches of fromMatrix are taken
    for (int i = 0; i < 2000; ++i) {
        const Quaternion p = rnd.Unit(), q = rnd.Unit();
        const Vector3 v = rnd.Vector(5.0f);
        EXPECT_NEAR(angleBetween(v, v * 3.0f), 0.0f, 1e-3f); // parallel and opposite: never NaN
        EXPECT_NEAR(angleBetween(v, -v), kPi, 1e-3f);
        ExpectNear(rotateVector(p * q, v), rotateVector(p, rotateVector(q, v)), 1e-4f);
        const Matrix3 m = toMatrix3(p);
        ExpectNear(m * v, rotateVector(p, v), 1e-4f);
        EXPECT_TRUE(SameRotation(fromMatrix(m), p, 1e-4f));
        positiveTrace += m(0, 0) + m(1, 1) + m(2, 2) > 0.0f;
        const Quaternion look = lookRotation(v, Vector3(0, 1, 0)); // -Z along v, no roll, up leaning up
        ExpectNear(rotateVector(look, Vector3(0, 0, -1)), normalized(v), 1e-5f);
        EXPECT_NEAR(rotateVector(look, Vector3(1, 0, 0)).y, 0.0f, 1e-5f);
        EXPECT_GT(rotateVector(look, Vector3(0, 1, 0)).y, 0.0f);

        // Slerp: from p to q on the shorter arc, at its share of the angle.
        EXPECT_TRUE(SameRotation(slerp(p, q, 0.0f, 0), p, 1e-5f));
        EXPECT_TRUE(SameRotation(slerp(p, q, 1.0f, 0), q, 1e-5f));
        const Quaternion r = slerp(p, q, 0.3f, 0);
        EXPECT_TRUE(SameRotation(r, slerp(p, Quaternion(-q.w, -q.x, -q.y, -q.z), 0.3f, 0), 1e-4f));
        const float whole = std::acos(std::fmin(1.0f, std::fabs(dot(p, q))));
        EXPECT_NEAR(std::acos(std::fmin(1.0f, std::fabs(dot(p, r)))), 0.3f * whole, 1e-3f);

        // The inverse and its matrix undo the Transform, scaled or not.
        Transform transform;
        transform.setRotation(p);
        transform.setPosition(rnd.Vector(100.0f));
        transform.setScale(i % 2 ? 2.0f : 1.0f);
        Transform inverse = transform;
        inverse.invert();
        inverse.updateMatrix();
        ExpectNear(inverse.transformPoint(transform.transformPoint(v)), v, 1e-3f);
        ExpectNear(inverse.matrix() * transform.transformPoint(v), v, 1e-3f);
    }
    EXPECT_GT(positiveTrace, 100);
    EXPECT_LT(positiveTrace, 1900);
}

} // namespace
