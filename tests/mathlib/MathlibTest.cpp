// Tests of the math library: normalisation edge cases, quaternion algebra,
// the quaternion <-> matrix round trip in both branches, lookRotation, slerp,
// Transform inversion and its matrix cache, and the Matrix4 layout.
#include "ML_Maths"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const float kPi = 3.14159265f;

void expectVecNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// a and b stand for the same rotation: equal or opposite component-wise.
::testing::AssertionResult sameRotation(const Quaternion &a, const Quaternion &b, float tol)
{
    const float plus = std::fabs(a.w - b.w) + std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z);
    const float minus = std::fabs(a.w + b.w) + std::fabs(a.x + b.x) + std::fabs(a.y + b.y) + std::fabs(a.z + b.z);
    if (plus <= tol || minus <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.w << ", " << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                         << b.w << ", " << b.x << ", " << b.y << ", " << b.z << ")";
}

// Uniformly distributed unit quaternions and vectors from a fixed seed.
class Random
{
public:
    Quaternion unitQuaternion()
    {
        Quaternion q(normal(gen), normal(gen), normal(gen), normal(gen));
        q.normalize();
        return q;
    }
    Vector3 vector(float scale) { return Vector3(normal(gen) * scale, normal(gen) * scale, normal(gen) * scale); }

private:
    std::mt19937 gen{12345};
    std::normal_distribution<float> normal{0.0f, 1.0f};
};

} // namespace

// --- Vector3 ------------------------------------------------------------------

TEST(Vector3Test, ZeroVectorStaysZero)
{
    Vector3 v;
    v.normalize();
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_EQ(v.z, 0.0f);
    const Vector3 n = normalized(Vector3());
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f);
}

TEST(Vector3Test, HugeAndTinyComponentsNormalizeWithoutOverflowOrFlush)
{
    Vector3 huge(1e30f, 1e30f, 0.0f);
    huge.normalize();
    EXPECT_FLOAT_EQ(huge.x, 0.7071068f);
    EXPECT_FLOAT_EQ(huge.y, 0.7071068f);
    EXPECT_EQ(huge.z, 0.0f);

    const Vector3 tiny = normalized(Vector3(-1e-30f, 0.0f, 1e-30f));
    EXPECT_FLOAT_EQ(tiny.x, -0.7071068f);
    EXPECT_FLOAT_EQ(tiny.z, 0.7071068f);

    const Vector3 mixed = normalized(Vector3(3e35f, 0.0f, -4e35f));
    EXPECT_FLOAT_EQ(mixed.x, 0.6f);
    EXPECT_FLOAT_EQ(mixed.z, -0.8f);
}

TEST(Vector3Test, NormalizedLeavesInputAndAgreesWithNormalize)
{
    Random rnd;
    for (int i = 0; i < 200; ++i) {
        const Vector3 v = rnd.vector(100.0f);
        Vector3 inPlace = v;
        inPlace.normalize();
        const Vector3 copy = normalized(v);
        EXPECT_EQ(copy.x, inPlace.x);
        EXPECT_EQ(copy.y, inPlace.y);
        EXPECT_EQ(copy.z, inPlace.z);
        EXPECT_NEAR(length(copy), 1.0f, 1e-6f);
        // Same direction as the input.
        EXPECT_NEAR(dot(copy, v), length(v), 1e-4f * length(v));
    }
}

TEST(Vector3Test, AngleBetweenStaysDefinedForParallelAndOppositeVectors)
{
    EXPECT_NEAR(angleBetween(Vector3(1, 0, 0), Vector3(0, 0, 5)), kPi / 2, 1e-6f);
    Random rnd;
    for (int i = 0; i < 500; ++i) {
        const Vector3 v = rnd.vector(10.0f);
        const float same = angleBetween(v, v * 3.0f);
        const float opposite = angleBetween(v, -v);
        ASSERT_FALSE(std::isnan(same));
        ASSERT_FALSE(std::isnan(opposite));
        EXPECT_NEAR(same, 0.0f, 1e-3f);
        EXPECT_NEAR(opposite, kPi, 1e-3f);
    }
}

// --- Quaternion -----------------------------------------------------------------

TEST(QuaternionTest, ZeroAngleIsExactIdentityWhateverTheAxis)
{
    for (const Vector3 &axis : {Vector3(0, 1, 0), Vector3(), Vector3(3, -7, 1e30f)}) {
        const Quaternion q = fromAxisAngle(axis, 0.0f);
        EXPECT_EQ(q.w, 1.0f);
        EXPECT_EQ(q.x, 0.0f);
        EXPECT_EQ(q.y, 0.0f);
        EXPECT_EQ(q.z, 0.0f);
    }
}

TEST(QuaternionTest, AxisAngleRotatesCounterClockwiseAboutTheAxis)
{
    const Quaternion q = fromAxisAngle(Vector3(0, 0, 1), kPi / 2);
    EXPECT_FLOAT_EQ(q.w, std::cos(kPi / 4));
    EXPECT_FLOAT_EQ(q.z, std::sin(kPi / 4));
    expectVecNear(rotateVector(q, Vector3(1, 0, 0)), Vector3(0, 1, 0), 1e-6f);
    expectVecNear(rotateVector(fromAxisAngle(Vector3(0, 1, 0), kPi / 2), Vector3(0, 0, -1)), Vector3(-1, 0, 0), 1e-6f);
}

TEST(QuaternionTest, ProductAppliesRightOperandFirst)
{
    Random rnd;
    for (int i = 0; i < 100; ++i) {
        const Quaternion a = rnd.unitQuaternion();
        const Quaternion b = rnd.unitQuaternion();
        const Vector3 v = rnd.vector(5.0f);
        expectVecNear(rotateVector(a * b, v), rotateVector(a, rotateVector(b, v)), 1e-4f);
    }
}

TEST(QuaternionTest, MatrixOfQuaternionRotatesLikeTheQuaternion)
{
    Random rnd;
    for (int i = 0; i < 100; ++i) {
        const Quaternion q = rnd.unitQuaternion();
        const Matrix3 m = toMatrix3(q);
        const Vector3 v = rnd.vector(5.0f);
        expectVecNear(m * v, rotateVector(q, v), 1e-4f);
        // Column 0 is the image of local X.
        expectVecNear(m.column(0), rotateVector(q, Vector3(1, 0, 0)), 1e-5f);
    }
}

TEST(QuaternionTest, FromMatrixRoundTripsInBothBranches)
{
    Random rnd;
    int positiveTrace = 0;
    int otherTrace = 0;
    for (int i = 0; i < 5000; ++i) {
        const Quaternion q = rnd.unitQuaternion();
        const Matrix3 m = toMatrix3(q);
        (m(0, 0) + m(1, 1) + m(2, 2) > 0.0f ? positiveTrace : otherTrace)++;
        EXPECT_TRUE(sameRotation(fromMatrix(m), q, 1e-4f));
    }
    EXPECT_GT(positiveTrace, 100);
    EXPECT_GT(otherTrace, 100);
}

TEST(QuaternionTest, FromMatrixOfHalfTurnsAndBoundaryCases)
{
    const Quaternion cases[] = {
        Quaternion(0, 1, 0, 0),
        Quaternion(0, 0, 1, 0),
        Quaternion(0, 0, 0, 1),
        // All three diagonal elements tie at -1/3.
        Quaternion(0, 0.57735027f, 0.57735027f, 0.57735027f),
        // A third of a turn: trace 0, on the boundary between the branches.
        fromAxisAngle(Vector3(0, 1, 0), 2.0f * kPi / 3.0f),
    };
    for (const Quaternion &q : cases)
        EXPECT_TRUE(sameRotation(fromMatrix(toMatrix3(q)), q, 1e-6f));
    const Quaternion x = fromMatrix(toMatrix3(Quaternion(0, 1, 0, 0)));
    EXPECT_EQ(x.w, 0.0f);
    EXPECT_EQ(std::fabs(x.x), 1.0f);
}

TEST(QuaternionTest, LookRotation)
{
    EXPECT_TRUE(sameRotation(lookRotation(Vector3(0, 0, -1), Vector3(0, 1, 0)), Quaternion::identity(), 1e-6f));

    const Quaternion q = lookRotation(Vector3(1, 0, 0), Vector3(0, 1, 0));
    EXPECT_TRUE(sameRotation(q, fromAxisAngle(Vector3(0, 1, 0), -kPi / 2), 1e-6f));
    expectVecNear(rotateVector(q, Vector3(0, 0, -1)), Vector3(1, 0, 0), 1e-6f);

    Random rnd;
    for (int i = 0; i < 200; ++i) {
        const Vector3 dir = rnd.vector(50.0f);
        const Quaternion r = lookRotation(dir, Vector3(0, 1, 0));
        expectVecNear(rotateVector(r, Vector3(0, 0, -1)), normalized(dir), 1e-5f);
        // No roll: the right axis is horizontal and the up axis leans up.
        EXPECT_NEAR(rotateVector(r, Vector3(1, 0, 0)).y, 0.0f, 1e-5f);
        EXPECT_GT(rotateVector(r, Vector3(0, 1, 0)).y, 0.0f);
    }
}

TEST(QuaternionTest, SlerpEndsAndMidpoint)
{
    const Quaternion a = fromAxisAngle(Vector3(0, 1, 0), 0.3f);
    const Quaternion b = fromAxisAngle(normalized(Vector3(1, 2, -1)), 2.0f);
    EXPECT_TRUE(sameRotation(slerp(a, b, 0.0f, 0), a, 1e-6f));
    EXPECT_TRUE(sameRotation(slerp(a, b, 1.0f, 0), b, 1e-5f));

    const Quaternion half = slerp(Quaternion::identity(), fromAxisAngle(Vector3(0, 1, 0), kPi / 2), 0.5f, 0);
    EXPECT_TRUE(sameRotation(half, fromAxisAngle(Vector3(0, 1, 0), kPi / 4), 1e-6f));
}

TEST(QuaternionTest, SlerpOfEqualAndOppositeQuaternions)
{
    const Quaternion q = fromAxisAngle(normalized(Vector3(1, -2, 3)), 1.1f);
    const Quaternion same = slerp(q, q, 0.37f, 0);
    EXPECT_NEAR(same.w, q.w, 1e-6f);
    EXPECT_NEAR(same.x, q.x, 1e-6f);
    EXPECT_NEAR(same.y, q.y, 1e-6f);
    EXPECT_NEAR(same.z, q.z, 1e-6f);

    // -q is the same rotation: the negated weight adds q twice.
    const Quaternion opposite = slerp(q, Quaternion(-q.w, -q.x, -q.y, -q.z), 0.5f, 0);
    EXPECT_NEAR(opposite.w, q.w, 1e-6f);
    EXPECT_NEAR(opposite.x, q.x, 1e-6f);
    EXPECT_NEAR(opposite.y, q.y, 1e-6f);
    EXPECT_NEAR(opposite.z, q.z, 1e-6f);
}

TEST(QuaternionTest, SlerpTakesTheShorterArcWhateverTheSign)
{
    Random rnd;
    for (int i = 0; i < 100; ++i) {
        const Quaternion a = rnd.unitQuaternion();
        const Quaternion b = rnd.unitQuaternion();
        const Quaternion negB(-b.w, -b.x, -b.y, -b.z);
        EXPECT_TRUE(sameRotation(slerp(a, b, 0.3f, 0), slerp(a, negB, 0.3f, 0), 1e-4f));
        // The rotation angle from a covers 30% of the whole.
        const Quaternion s = slerp(a, b, 0.3f, 0);
        const float whole = 2.0f * std::acos(std::fmin(1.0f, std::fabs(dot(a, b))));
        const float part = 2.0f * std::acos(std::fmin(1.0f, std::fabs(dot(a, s))));
        EXPECT_NEAR(part, 0.3f * whole, 2e-3f);
    }
}

// --- Transform and matrices -------------------------------------------------------

TEST(TransformTest, InvertUndoesTheTransform)
{
    Random rnd;
    for (float scale : {1.0f, 2.0f, 0.25f}) {
        for (int i = 0; i < 100; ++i) {
            Transform t;
            t.setRotation(rnd.unitQuaternion());
            t.setPosition(rnd.vector(100.0f));
            t.setScale(scale);
            Transform inverse = t;
            inverse.invert();
            EXPECT_FLOAT_EQ(inverse.scale(), 1.0f / scale);
            const Vector3 p = rnd.vector(50.0f);
            expectVecNear(inverse.transformPoint(t.transformPoint(p)), p, 1e-3f);
            expectVecNear(t.transformPoint(inverse.transformPoint(p)), p, 1e-3f);
        }
    }
}

TEST(TransformTest, InvertOfScaleTwoHalvesTheScale)
{
    Transform t;
    t.setPosition(Vector3(4, 0, 0));
    t.setScale(2.0f);
    t.invert();
    EXPECT_EQ(t.scale(), 0.5f);
    expectVecNear(t.position(), Vector3(-2, 0, 0), 1e-6f);
    EXPECT_FALSE(t.isMatrixValid());
}

TEST(TransformTest, RotateTurnsAboutWorldAxesAfterTheCurrentRotation)
{
    Transform t;
    t.setRotation(fromAxisAngle(Vector3(0, 1, 0), kPi / 2));
    t.rotate(fromAxisAngle(Vector3(1, 0, 0), kPi / 2));
    // Local -Z went to -X under the first turn; a turn about world X keeps it.
    expectVecNear(t.transformDirection(Vector3(0, 0, -1)), Vector3(-1, 0, 0), 1e-6f);
}

TEST(TransformTest, MatrixCacheFollowsChanges)
{
    Transform t;
    EXPECT_TRUE(t.isMatrixValid());
    t.setPosition(Vector3(1, 2, 3));
    EXPECT_FALSE(t.isMatrixValid());
    t.updateMatrix();
    EXPECT_TRUE(t.isMatrixValid());
    expectVecNear(t.matrix().translation, Vector3(1, 2, 3), 0.0f);
    t.normalizeRotation();
    EXPECT_TRUE(t.isMatrixValid());
    t.rotate(fromAxisAngle(Vector3(0, 0, 1), 0.5f));
    EXPECT_FALSE(t.isMatrixValid());
    t.updateMatrix();
    t.translate(Vector3(1, 0, 0));
    EXPECT_FALSE(t.isMatrixValid());
    t.updateMatrix();
    t.setScale(3.0f);
    EXPECT_FALSE(t.isMatrixValid());
}

TEST(TransformTest, UpdatedMatrixMapsPointsLikeTheTransform)
{
    Random rnd;
    for (float scale : {1.0f, 2.0f}) {
        Transform t;
        t.setRotation(rnd.unitQuaternion());
        t.setPosition(rnd.vector(20.0f));
        t.setScale(scale);
        t.updateMatrix();
        for (int i = 0; i < 20; ++i) {
            const Vector3 p = rnd.vector(10.0f);
            expectVecNear(t.matrix() * p, t.transformPoint(p), 1e-4f);
        }
    }
}

TEST(TransformTest, CopyKeepsRotationPositionScaleButNotTheMatrix)
{
    Transform t;
    t.setRotation(fromAxisAngle(Vector3(1, 0, 0), 0.7f));
    t.setPosition(Vector3(5, 6, 7));
    t.setScale(2.0f);
    t.updateMatrix();
    const Transform copy = t;
    EXPECT_FALSE(copy.isMatrixValid());
    for (float e : copy.matrix().linear.m)
        EXPECT_EQ(e, 0.0f);
    expectVecNear(copy.matrix().translation, Vector3(), 0.0f);
    EXPECT_EQ(copy.rotation().x, t.rotation().x);
    EXPECT_EQ(copy.rotation().w, t.rotation().w);
    expectVecNear(copy.position(), t.position(), 0.0f);
    EXPECT_EQ(copy.scale(), 2.0f);
}

TEST(MatrixTest, ToMatrix4LayoutIsColumnMajorWithTranslationLast)
{
    Transform t;
    t.setRotation(fromAxisAngle(normalized(Vector3(1, 1, 0)), 0.9f));
    t.setPosition(Vector3(7, -8, 9));
    t.updateMatrix();
    const Matrix34 &a = t.matrix();
    const Matrix4 m = toMatrix4(a);
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(m.m[4 * col + row], a.linear.m[3 * col + row]);
        EXPECT_EQ(m.m[4 * col + 3], 0.0f);
    }
    EXPECT_EQ(m.m[12], 7.0f);
    EXPECT_EQ(m.m[13], -8.0f);
    EXPECT_EQ(m.m[14], 9.0f);
    EXPECT_EQ(m.m[15], 1.0f);
    EXPECT_EQ(m(1, 3), -8.0f);
}
