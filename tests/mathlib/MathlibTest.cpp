// Math library: normalisation edge cases, rotation algebra, the quaternion <->
// matrix round trip, lookRotation, slerp, Transform inversion, Matrix4 layout.
#include "ML_Maths"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

const float kPi = 3.14159265f;

void expectVecNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// a and b are the same rotation: equal or opposite component-wise.
::testing::AssertionResult sameRotation(const Quaternion &a, const Quaternion &b, float tol)
{
    const float plus = std::fabs(a.w - b.w) + std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z);
    const float minus = std::fabs(a.w + b.w) + std::fabs(a.x + b.x) + std::fabs(a.y + b.y) + std::fabs(a.z + b.z);
    if (plus <= tol || minus <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.w << ", " << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                         << b.w << ", " << b.x << ", " << b.y << ", " << b.z << ")";
}

// Random unit quaternions and vectors from a fixed seed.
struct Random
{
    std::mt19937 gen{12345};
    std::normal_distribution<float> normal{0.0f, 1.0f};
    Quaternion unitQuaternion()
    {
        Quaternion q(normal(gen), normal(gen), normal(gen), normal(gen));
        q.normalize();
        return q;
    }
    Vector3 vector(float scale) { return Vector3(normal(gen), normal(gen), normal(gen)) * scale; }
};

} // namespace

TEST(Vector3Test, NormalizeAndAngleBetweenHandleExtremeInputs)
{
    const float h = 0.70710678f;
    const Vector3 cases[][2] = {
        {Vector3(), Vector3()},
        {Vector3(1e30f, 1e30f, 0), Vector3(h, h, 0)},
        {Vector3(-1e-30f, 0, 1e-30f), Vector3(-h, 0, h)},
        {Vector3(3e35f, 0, -4e35f), Vector3(0.6f, 0, -0.8f)},
    };
    for (const auto &c : cases) {
        Vector3 inPlace = c[0];
        inPlace.normalize();
        expectVecNear(inPlace, c[1], 1e-6f);
        expectVecNear(normalized(c[0]), c[1], 1e-6f);
    }
    // angleBetween clamps the cosine: parallel and opposite vectors give 0 and pi, not NaN.
    EXPECT_NEAR(angleBetween(Vector3(1, 0, 0), Vector3(0, 0, 5)), kPi / 2, 1e-6f);
    Random rnd;
    for (int i = 0; i < 500; ++i) {
        const Vector3 v = rnd.vector(10.0f);
        EXPECT_NEAR(angleBetween(v, v * 3.0f), 0.0f, 1e-3f);
        EXPECT_NEAR(angleBetween(v, -v), kPi, 1e-3f);
    }
}

TEST(QuaternionTest, AxisAngleProductMatrixAndLookRotationAgree)
{
    // Angle 0 is bit for bit the identity: no -0 from a negative axis, no NaN from an infinite one.
    const Quaternion id;
    for (const Vector3 &axis : {Vector3(0, 1, 0), Vector3(), Vector3(3, -7, INFINITY)}) {
        const Quaternion q = fromAxisAngle(axis, 0.0f);
        EXPECT_EQ(std::memcmp(&q, &id, sizeof q), 0) << q.w << ", " << q.x << ", " << q.y << ", " << q.z;
    }
    // Counter-clockwise about the axis.
    expectVecNear(rotateVector(fromAxisAngle(Vector3(0, 0, 1), kPi / 2), Vector3(1, 0, 0)), Vector3(0, 1, 0), 1e-6f);

    Random rnd;
    for (int i = 0; i < 100; ++i) {
        const Quaternion a = rnd.unitQuaternion(), b = rnd.unitQuaternion();
        const Vector3 v = rnd.vector(5.0f);
        expectVecNear(rotateVector(a * b, v), rotateVector(a, rotateVector(b, v)), 1e-4f);
        expectVecNear(toMatrix3(a) * v, rotateVector(a, v), 1e-4f);
        // lookRotation: local -Z along the direction, no roll, up leaning up.
        const Quaternion r = lookRotation(v, Vector3(0, 1, 0));
        expectVecNear(rotateVector(r, Vector3(0, 0, -1)), normalized(v), 1e-5f);
        EXPECT_NEAR(rotateVector(r, Vector3(1, 0, 0)).y, 0.0f, 1e-5f);
        EXPECT_GT(rotateVector(r, Vector3(0, 1, 0)).y, 0.0f);
    }
    EXPECT_TRUE(sameRotation(lookRotation(Vector3(0, 0, -1), Vector3(0, 1, 0)), Quaternion::identity(), 1e-6f));
    EXPECT_TRUE(sameRotation(lookRotation(Vector3(1, 0, 0), Vector3(0, 1, 0)),
                             fromAxisAngle(Vector3(0, 1, 0), -kPi / 2), 1e-6f));
}

TEST(QuaternionTest, FromMatrixRoundTripsInBothBranches)
{
    Random rnd;
    int positiveTrace = 0;
    for (int i = 0; i < 5000; ++i) {
        const Quaternion q = rnd.unitQuaternion();
        const Matrix3 m = toMatrix3(q);
        positiveTrace += m(0, 0) + m(1, 1) + m(2, 2) > 0.0f;
        EXPECT_TRUE(sameRotation(fromMatrix(m), q, 1e-4f));
    }
    EXPECT_GT(positiveTrace, 100);
    EXPECT_LT(positiveTrace, 4900);

    const float t = 0.57735027f;
    // Half turns about each axis, a three-way tie of the diagonal, trace 0, and a near half turn
    // about X leaning to Z, where only the largest diagonal element keeps the precision.
    for (const Quaternion &q : {Quaternion(0, 1, 0, 0), Quaternion(0, 0, 1, 0), Quaternion(0, 0, 0, 1),
                                Quaternion(0, t, t, t), fromAxisAngle(Vector3(0, 1, 0), 2.0f * kPi / 3.0f),
                                fromAxisAngle(normalized(Vector3(1, 5e-4f, 1e-3f)), kPi)})
        EXPECT_TRUE(sameRotation(fromMatrix(toMatrix3(q)), q, 1e-5f));
}

TEST(QuaternionTest, SlerpFollowsTheShorterArc)
{
    const Quaternion a = fromAxisAngle(Vector3(0, 1, 0), 0.3f);
    const Quaternion b = fromAxisAngle(normalized(Vector3(1, 2, -1)), 2.0f);
    EXPECT_TRUE(sameRotation(slerp(a, b, 0.0f, 0), a, 1e-6f));
    EXPECT_TRUE(sameRotation(slerp(a, b, 1.0f, 0), b, 1e-5f));
    // q with q, and q with -q (the same rotation), give q itself, not -q.
    EXPECT_TRUE(sameRotation(slerp(b, b, 0.37f, 0), b, 1e-6f));
    EXPECT_NEAR(dot(slerp(b, Quaternion(-b.w, -b.x, -b.y, -b.z), 0.5f, 0), b), 1.0f, 1e-5f);

    Random rnd;
    for (int i = 0; i < 100; ++i) {
        const Quaternion p = rnd.unitQuaternion(), q = rnd.unitQuaternion();
        const Quaternion r = slerp(p, q, 0.3f, 0);
        EXPECT_TRUE(sameRotation(r, slerp(p, Quaternion(-q.w, -q.x, -q.y, -q.z), 0.3f, 0), 1e-4f));
        const float whole = std::acos(std::fmin(1.0f, std::fabs(dot(p, q))));
        EXPECT_NEAR(std::acos(std::fmin(1.0f, std::fabs(dot(p, r)))), 0.3f * whole, 1e-3f);
    }
}

TEST(TransformTest, InvertAndMatrixUndoTheTransform)
{
    Random rnd;
    for (float scale : {1.0f, 2.0f}) {
        for (int i = 0; i < 100; ++i) {
            Transform t;
            t.setRotation(rnd.unitQuaternion());
            t.setPosition(rnd.vector(100.0f));
            t.setScale(scale);
            Transform inverse = t;
            inverse.invert();
            EXPECT_FLOAT_EQ(inverse.scale(), 1.0f / scale);
            inverse.updateMatrix();
            const Vector3 p = rnd.vector(50.0f);
            expectVecNear(inverse.transformPoint(t.transformPoint(p)), p, 1e-3f);
            expectVecNear(inverse.matrix() * t.transformPoint(p), p, 1e-3f);
        }
    }
}

TEST(MatrixTest, ToMatrix4IsColumnMajorWithTranslationLast)
{
    Matrix34 a;
    for (int i = 0; i < 9; ++i)
        a.linear.m[i] = static_cast<float>(i + 1);
    a.setTranslation(Vector3(7, -8, 9));
    const Matrix4 m = toMatrix4(a);
    const float expected[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 7, -8, 9, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m.m[i], expected[i]) << i;
}
