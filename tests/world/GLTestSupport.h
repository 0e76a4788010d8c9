// World test support: a fixture with a compatibility GL context rendering into
// an 800 x 600 framebuffer object with depth, a World that exposes its fields,
// and a GL_FEEDBACK capture of the lines and polygons that survive clipping.
#pragma once

#include "World.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

const int kViewWidth = 800;
const int kViewHeight = 600;

class ProbeWorld : public World
{
public:
    using World::gridCellsX;
    using World::pickedDepth;
    using World::pickedPoint;

    std::function<void()> renderScene;   // drawn by render() when set

protected:
    void render() override
    {
        if (renderScene)
            renderScene();
    }
};

// What GL_FEEDBACK reports for draw: the lines and polygons that survive
// clipping, with window x, y, depth and RGBA per vertex.
struct FeedbackVertex
{
    float x, y, z, r, g, b, a;
};
using Primitive = std::vector<FeedbackVertex>;
struct Feedback
{
    std::vector<Primitive> lines, polygons;
};

inline Feedback captureFeedback(const std::function<void()> &draw)
{
    std::vector<GLfloat> buf(400000);
    glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D_COLOR, buf.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);
    EXPECT_GE(count, 0) << "feedback buffer overflow";
    Feedback fb;
    for (GLint i = 0; i < count;) {
        const int token = static_cast<int>(buf[i++]);
        const bool line = token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN;
        if (!line && token != GL_POLYGON_TOKEN) {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        const int n = line ? 2 : static_cast<int>(buf[i++]);
        Primitive p;
        for (int k = 0; k < n; ++k, i += 7)
            p.push_back({buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], buf[i + 5], buf[i + 6]});
        (line ? fb.lines : fb.polygons).push_back(p);
    }
    return fb;
}

// Window point of a world point, and back, under the current GL matrices.
inline Vector3 windowTransform(const Vector3 &p, bool inverse)
{
    GLdouble mv[16], pr[16], x, y, z;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    (inverse ? gluUnProject : gluProject)(p.x, p.y, p.z, mv, pr, vp, &x, &y, &z);
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}
inline Vector3 projectToWindow(const Vector3 &p) { return windowTransform(p, false); }
inline Vector3 unprojectFromWindow(const Vector3 &w) { return windowTransform(w, true); }
inline Vector3 windowXY(const Vector3 &p) { return Vector3(projectToWindow(p).x, projectToWindow(p).y, 0.0f); }

inline Vector3 forwardOf(const Transform &t) { return rotateVector(t.rotation(), Vector3(0.0f, 0.0f, -1.0f)); }

inline void expectVecNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

inline bool sameQuaternion(const Quaternion &p, const Quaternion &q)
{
    return p.w == q.w && p.x == q.x && p.y == q.y && p.z == q.z;
}
inline void expectSameTransform(const Transform &a, const Transform &b)
{
    expectVecNear(a.position(), b.position(), 0.0f);
    EXPECT_TRUE(sameQuaternion(a.rotation(), b.rotation()));
}

class WorldGLTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setDepthBufferSize(24);
        context = std::make_unique<QOpenGLContext>();
        context->setFormat(format);
        ASSERT_TRUE(context->create()) << "no OpenGL context (is an X server running?)";
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(context->format());
        surface->create();
        ASSERT_TRUE(context->makeCurrent(surface.get()));
        fbo = std::make_unique<QOpenGLFramebufferObject>(kViewWidth, kViewHeight,
                                                         QOpenGLFramebufferObject::CombinedDepthStencil);
        ASSERT_TRUE(fbo->bind());
        world.setViewport(0, 0, kViewWidth, kViewHeight);
    }

    // One frame at cursor (x, y) with the depth state the view sets up.
    void renderAtCursor(int x, int y)
    {
        world.mouseMove(x, y);
        glEnable(GL_DEPTH_TEST);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1.0f, 1.0f);
        world.renderFrame();
    }

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    ProbeWorld world;
};
