// A compatibility GL context on an 800 x 600 framebuffer with depth, a World
// that exposes its fields, and a GL_FEEDBACK capture.
#pragma once

#include "World.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

const int kViewWidth = 800, kViewHeight = 600;

class ProbeWorld : public World
{
public:
    using World::pickedDepth;
    using World::pickedPoint;
};

struct FeedbackVertex { float x, y, z, r, g, b, a; }; // window x, y, depth; colour
using Primitive = std::vector<FeedbackVertex>;
struct Feedback { std::vector<Primitive> lines, polygons; };

inline Feedback CaptureFeedback(const std::function<void()> &draw, std::size_t floats = 400000)
{
    std::vector<GLfloat> buf(floats);
    glFeedbackBuffer(GLsizei(buf.size()), GL_3D_COLOR, buf.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);
    EXPECT_GE(count, 0) << "feedback buffer overflow";
    Feedback fb;
    for (GLint i = 0; i < count;) {
        const int token = int(buf[i++]);
        const bool line = token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN;
        EXPECT_TRUE(line || token == GL_POLYGON_TOKEN) << token;
        Primitive &p = (line ? fb.lines : fb.polygons).emplace_back();
        for (int n = line ? 2 : int(buf[i++]); n > 0; --n, i += 7)
            p.push_back({buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], buf[i + 5], buf[i + 6]});
    }
    return fb;
}

// The window point of a world point, or back, under the current GL matrices.
inline Vector3 Window(const Vector3 &p, bool inverse = false)
{
    GLdouble mv[16], pr[16], x, y, z;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    (inverse ? gluUnProject : gluProject)(p.x, p.y, p.z, mv, pr, vp, &x, &y, &z);
    return Vector3(float(x), float(y), float(z));
}
inline Vector3 Forward(const Transform &t) { return rotateVector(t.rotation(), Vector3(0, 0, -1)); }
inline void ExpectNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_TRUE(std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol)
        << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", " << b.y << ", " << b.z << ")";
}
inline bool Same(const Transform &a, const Transform &b)
{
    const Quaternion p = a.rotation(), q = b.rotation();
    const Vector3 u = a.position(), v = b.position();
    return p.w == q.w && p.x == q.x && p.y == q.y && p.z == q.z && u.x == v.x && u.y == v.y && u.z == v.z;
}

class WorldGLTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setDepthBufferSize(24);
        context.setFormat(format);
        ASSERT_TRUE(context.create()) << "no OpenGL context";
        surface.setFormat(context.format());
        surface.create();
        ASSERT_TRUE(context.makeCurrent(&surface));
        fbo = std::make_unique<QOpenGLFramebufferObject>(kViewWidth, kViewHeight, QOpenGLFramebufferObject::CombinedDepthStencil);
        ASSERT_TRUE(fbo->bind());
        world.setViewport(0, 0, kViewWidth, kViewHeight);
    }
    // One frame with the cursor at (x, y) and the view's depth state.
    void RenderAtCursor(int x, int y)
    {
        world.mouseMove(x, y);
        glEnable(GL_DEPTH_TEST);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1.0f, 1.0f);
        world.renderFrame();
    }

    QOpenGLContext context;
    QOffscreenSurface surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    ProbeWorld world;
};
