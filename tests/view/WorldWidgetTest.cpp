// The view widget under X: wheel direction and key forwarding rules, driven
// with real Qt events.
#include "Production.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

class WorldWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenScriptHost();
        RunScript("function update() end function render() end function OnMouseMove() end "
                  "function LMBDown() end function LMBUp() end");
        widget.resize(400, 300);
        widget.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    }
    void TearDown() override { CloseScriptHost(); }

    float DistanceToPick() { return length(widget.world()->pickPoint() - widget.world()->camera().position()); }

    void Key(QEvent::Type type, bool autoRepeat)
    {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, " ", autoRepeat);
        QApplication::sendEvent(&widget, &event);
    }

    void Mouse(QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held)
    {
        const QPointF p(x, 100);
        QMouseEvent event(type, p, widget.mapToGlobal(p), button, held, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }

    // A left drag of 40 pixels to the right; true when it moved the camera
    // (an orbit, with the space bar held) rather than turning it in place.
    bool LeftDragMovesCamera()
    {
        const Vector3 before = widget.world()->camera().position();
        Mouse(QEvent::MouseMove, 100, Qt::NoButton, Qt::NoButton);
        Mouse(QEvent::MouseButtonPress, 100, Qt::LeftButton, Qt::LeftButton);
        Mouse(QEvent::MouseMove, 140, Qt::NoButton, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, 140, Qt::LeftButton, Qt::NoButton);
        return length(widget.world()->camera().position() - before) > 1e-3f;
    }

    Production production;
    WorldWidget widget{&production};
};

TEST_F(WorldWidgetTest, WheelDeltaOfZeroOrLessZoomsOut)
{
    struct Case { int delta; bool closer; };
    for (const Case c : {Case{0, false}, Case{-120, false}, Case{120, true}}) {
        const float before = DistanceToPick();
        QWheelEvent event(QPointF(50, 50), widget.mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, c.delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &event);
        EXPECT_TRUE(event.isAccepted());
        EXPECT_EQ(DistanceToPick() < before, c.closer) << "delta " << c.delta;
    }
}

TEST_F(WorldWidgetTest, AutoRepeatedKeysAreNotForwarded)
{
    ASSERT_FALSE(LeftDragMovesCamera()) << "a plain left drag turns the camera in place";
    Key(QEvent::KeyPress, true);
    EXPECT_FALSE(LeftDragMovesCamera()) << "an auto-repeated space press reached the world";
    Key(QEvent::KeyPress, false);
    EXPECT_TRUE(LeftDragMovesCamera()) << "the first space press makes the drag orbit";
    Key(QEvent::KeyRelease, true);
    EXPECT_TRUE(LeftDragMovesCamera()) << "an auto-repeated release reached the world";
    Key(QEvent::KeyRelease, false);
    EXPECT_FALSE(LeftDragMovesCamera());
}

} // namespace

#include "ViewTestMain.h"
