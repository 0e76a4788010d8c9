// Support for the world tests: a fixture with a compatibility-profile GL
// context on an offscreen surface, rendering into an 800 x 600 framebuffer
// object with depth; a World subclass that exposes its fields and records its
// hooks; the GL state that the view sets before each frame; and a GL_FEEDBACK
// capture that reports the lines and polygons that survive clipping.
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
#include <string>
#include <vector>

const int kViewWidth = 800;
const int kViewHeight = 600;

// A World whose fields the tests read and set, and whose hooks leave a trace.
class ProbeWorld : public World
{
public:
    using World::cursorMovement;
    using World::cursorPosition;
    using World::fieldOfView;
    using World::gridCellsX;
    using World::gridCellsZ;
    using World::gridCellSize;
    using World::leftButtonHeld;
    using World::pickedDepth;
    using World::pickedPoint;
    using World::pickingEnabled;
    using World::rightButtonHeld;
    using World::spaceHeld;
    using World::stdMouseCam;

    std::vector<std::string> calls;       // hook name and arguments, in order
    std::function<void()> renderScene;    // drawn by render() when set
    float colourAtRender[4] = {0, 0, 0, 0};

protected:
    void update(float dt) override { calls.push_back("update " + std::to_string(dt)); }
    void render() override
    {
        glGetFloatv(GL_CURRENT_COLOR, colourAtRender);
        calls.push_back("render");
        if (renderScene)
            renderScene();
    }
    void onMouseMove(int x, int y) override { record("move", x, y); }
    void onLeftButtonDown(int x, int y) override { record("leftDown", x, y); }
    void onLeftButtonUp(int x, int y) override { record("leftUp", x, y); }
    void onRightButtonDown(int x, int y) override { record("rightDown", x, y); }
    void onRightButtonUp(int x, int y) override { record("rightUp", x, y); }
    void onKeyDown(char key, int x, int y) override { record(std::string("keyDown ") + key, x, y); }
    void onKeyUp(char key, int x, int y) override { record(std::string("keyUp ") + key, x, y); }

private:
    void record(const std::string &name, int x, int y)
    {
        calls.push_back(name + " " + std::to_string(x) + " " + std::to_string(y));
    }
};

// One vertex of GL_3D_COLOR feedback: window x, y, depth and RGBA.
struct FeedbackVertex
{
    float x, y, z, r, g, b, a;
};

struct Feedback
{
    std::vector<std::vector<FeedbackVertex>> lines;      // two vertices each
    std::vector<std::vector<FeedbackVertex>> polygons;
    bool overflow = false;
};

// Runs draw in GL_FEEDBACK mode and sorts what it produced.
inline Feedback captureFeedback(const std::function<void()> &draw)
{
    std::vector<GLfloat> buffer(400000);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);

    Feedback fb;
    if (count < 0) {
        fb.overflow = true;
        return fb;
    }
    GLint i = 0;
    auto vertex = [&]() {
        FeedbackVertex v{buffer[i], buffer[i + 1], buffer[i + 2], buffer[i + 3], buffer[i + 4], buffer[i + 5], buffer[i + 6]};
        i += 7;
        return v;
    };
    while (i < count) {
        const int token = static_cast<int>(buffer[i++]);
        switch (token) {
        case GL_LINE_TOKEN:
        case GL_LINE_RESET_TOKEN: {
            const FeedbackVertex a = vertex();
            const FeedbackVertex b = vertex();
            fb.lines.push_back({a, b});
            break;
        }
        case GL_POLYGON_TOKEN: {
            const int n = static_cast<int>(buffer[i++]);
            std::vector<FeedbackVertex> poly;
            for (int k = 0; k < n; ++k)
                poly.push_back(vertex());
            fb.polygons.push_back(poly);
            break;
        }
        case GL_POINT_TOKEN:
        case GL_BITMAP_TOKEN:
        case GL_DRAW_PIXEL_TOKEN:
        case GL_COPY_PIXEL_TOKEN:
            vertex();
            break;
        case GL_PASS_THROUGH_TOKEN:
            ++i;
            break;
        default:
            ADD_FAILURE() << "unknown feedback token " << token;
            return fb;
        }
    }
    return fb;
}

// Window coordinates of a world point under the current matrices.
inline Vector3 projectToWindow(const Vector3 &p)
{
    GLdouble mv[16], pr[16];
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    GLdouble x, y, z;
    gluProject(p.x, p.y, p.z, mv, pr, vp, &x, &y, &z);
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

// World point of a window point under the current matrices.
inline Vector3 unprojectFromWindow(double wx, double wy, double depth)
{
    GLdouble mv[16], pr[16];
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    GLdouble x, y, z;
    gluUnProject(wx, wy, depth, mv, pr, vp, &x, &y, &z);
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

// The GL state of the view before each frame: black clear colour, depth test
// GL_LESS, alpha blending, cleared buffers, polygon offset (1, 1).
inline void prepareFrameLikeTheView()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
}

// Forward direction (local -Z) of a transform.
inline Vector3 forwardOf(const Transform &t)
{
    return rotateVector(t.rotation(), Vector3(0.0f, 0.0f, -1.0f));
}

// Rotation angle in radians between two unit quaternions.
inline float rotationAngle(const Quaternion &a, const Quaternion &b)
{
    const float d = std::fabs(dot(a, b));
    return 2.0f * std::acos(d > 1.0f ? 1.0f : d);
}

// A current GL context with an 800 x 600 framebuffer object bound and the
// world's viewport set to it.
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
        ASSERT_TRUE(surface->isValid());
        ASSERT_TRUE(context->makeCurrent(surface.get()));
        fbo = std::make_unique<QOpenGLFramebufferObject>(kViewWidth, kViewHeight,
                                                         QOpenGLFramebufferObject::CombinedDepthStencil);
        ASSERT_TRUE(fbo->isValid());
        ASSERT_TRUE(fbo->bind());
        world.setViewport(0, 0, kViewWidth, kViewHeight);
    }

    void TearDown() override
    {
        fbo.reset();
        if (context)
            context->doneCurrent();
    }

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    ProbeWorld world;
};
