// ML_Maths.cpp: the non-inline parts of the math library: vector
// normalisation, the quaternion <-> matrix conversions, slerp and the
// Transform's inversion and matrix cache.
#include "ML_Maths"

namespace {

// Largest of |x|, |y|, |z|; 0 for the zero vector.
float largestMagnitude(const Vector3 &v)
{
    float m = std::fabs(v.x);
    const float ay = std::fabs(v.y);
    const float az = std::fabs(v.z);
    if (ay > m)
        m = ay;
    if (az > m)
        m = az;
    return m;
}

// Component i (0 = x, 1 = y, 2 = z) of the vector part of q.
float &vectorPart(Quaternion &q, int i)
{
    return i == 0 ? q.x : (i == 1 ? q.y : q.z);
}

} // namespace

void Vector3::normalize()
{
    const float m = largestMagnitude(*this);
    if (m == 0.0f)
        return;
    // Scale into [-1, 1] first; the squares below can then neither overflow
    // nor flush to zero.
    x = x / m;
    y = y / m;
    z = z / m;
    const float n = length(*this);
    if (n == 0.0f)
        return;
    const float k = 1.0f / n;
    x *= k;
    y *= k;
    z *= k;
}

Vector3 Vector3::normalized() const
{
    const float m = largestMagnitude(*this);
    if (m == 0.0f)
        return *this;
    const Vector3 scaled(x / m, y / m, z / m);
    const float n = length(scaled);
    if (n == 0.0f)
        return *this;
    const float k = 1.0f / n;
    return scaled * k;
}

float angleBetween(const Vector3 &a, const Vector3 &b)
{
    float c = dot(normalized(a), normalized(b));
    // Rounding can put the cosine of (anti)parallel unit vectors just past 1.
    if (c > 1.0f)
        c = 1.0f;
    else if (c < -1.0f)
        c = -1.0f;
    return std::acos(c);
}

Quaternion slerp(const Quaternion &q1, const Quaternion &q2, float t, int spin)
{
    const float pi = 3.14159274f;
    float d = dot(q1, q2);
    const bool flip = d < 0.0f;
    if (flip)
        d = -d;

    float k1;
    float k2;
    if (1.0f - d < 0.01f) {
        // Nearly equal: the arc is too short for sin() to divide by.
        k1 = 1.0f - t;
        k2 = t;
    } else {
        const float angle = std::acos(d);
        const float phi = angle + static_cast<float>(spin) * pi;
        const float s = std::sin(angle);
        k1 = std::sin(angle - t * phi) / s;
        k2 = std::sin(t * phi) / s;
    }
    // q2 and -q2 are the same rotation: take the one on q1's side.
    if (flip)
        k2 = -k2;

    Quaternion r(k1 * q1.w + k2 * q2.w, k1 * q1.x + k2 * q2.x, k1 * q1.y + k2 * q2.y, k1 * q1.z + k2 * q2.z);
    r.normalize();
    return r;
}

Matrix3 toMatrix3(const Quaternion &q)
{
    const float w = q.w, x = q.x, y = q.y, z = q.z;
    Matrix3 r;
    r(0, 0) = 1.0f - 2.0f * y * y - 2.0f * z * z;
    r(0, 1) = 2.0f * x * y - 2.0f * z * w;
    r(0, 2) = 2.0f * x * z + 2.0f * y * w;
    r(1, 0) = 2.0f * x * y + 2.0f * z * w;
    r(1, 1) = 1.0f - 2.0f * x * x - 2.0f * z * z;
    r(1, 2) = 2.0f * y * z - 2.0f * x * w;
    r(2, 0) = 2.0f * x * z - 2.0f * y * w;
    r(2, 1) = 2.0f * y * z + 2.0f * x * w;
    r(2, 2) = 1.0f - 2.0f * x * x - 2.0f * y * y;
    return r;
}

Quaternion fromMatrix(const Matrix3 &m)
{
    Quaternion q;
    const float trace = m(0, 0) + m(1, 1) + m(2, 2);
    if (trace > 0.0f) {
        float s = std::sqrt(trace + 1.0f);
        q.w = s / 2.0f;
        s = 0.5f / s;
        q.x = (m(2, 1) - m(1, 2)) * s;
        q.y = (m(0, 2) - m(2, 0)) * s;
        q.z = (m(1, 0) - m(0, 1)) * s;
        return q;
    }

    // The largest diagonal element picks the component that is safe to
    // divide by; ties keep the lower index.
    static const int next[3] = {1, 2, 0};
    int i = 0;
    if (m(0, 0) < m(1, 1))
        i = 1;
    if (m(i, i) < m(2, 2))
        i = 2;
    const int j = next[i];
    const int k = next[j];

    float s = std::sqrt(m(i, i) - (m(j, j) + m(k, k)) + 1.0f);
    vectorPart(q, i) = s / 2.0f;
    if (s != 0.0f)
        s = 0.5f / s;
    q.w = (m(k, j) - m(j, k)) * s;
    vectorPart(q, j) = (m(i, j) + m(j, i)) * s;
    vectorPart(q, k) = (m(i, k) + m(k, i)) * s;
    return q;
}

Matrix3 lookMatrix(const Vector3 &dir, const Vector3 &up)
{
    const Vector3 f = normalized(dir);
    const Vector3 right = normalized(cross(f, up));
    const Vector3 upPrime = cross(right, f);
    Matrix3 r;
    r.setColumn(0, right);
    r.setColumn(1, upPrime);
    r.setColumn(2, -f);
    return r;
}

Matrix4 toMatrix4(const Matrix34 &a)
{
    Matrix4 r;
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row)
            r.m[4 * col + row] = a.linear(row, col);
        r.m[4 * col + 3] = 0.0f;
    }
    r.m[12] = a.translation.x;
    r.m[13] = a.translation.y;
    r.m[14] = a.translation.z;
    r.m[15] = 1.0f;
    return r;
}

void Transform::invert()
{
    // (-w, x, y, z) is minus the conjugate: the inverse rotation.
    rotation_.w = -rotation_.w;
    if (scale_ == 1.0f) {
        position_ = -rotateVector(rotation_, position_);
    } else {
        scale_ = 1.0f / scale_;
        position_ = rotateVector(rotation_, position_) * (-scale_);
    }
    matrixValid = false;
}

void Transform::updateMatrix()
{
    matrix_.linear = toMatrix3(rotation_);
    matrix_.setTranslation(position_);
    if (scale_ != 1.0f) {
        for (float &e : matrix_.linear.m)
            e *= scale_;
    }
    matrixValid = true;
}
