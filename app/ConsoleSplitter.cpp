// The view-and-console splitter: F1's toggle and the hint on the bar.
#include "ConsoleSplitter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QSplitterHandle>

#include <algorithm>

namespace {

const char kHint[] = "F1: Lua console";
const int kHintPixelSize = 11;

QFont HintFont(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(kHintPixelSize);
    return font;
}

// The bar: black, with the hint while its splitter shows one.
class HintHandle : public QSplitterHandle
{
public:
    HintHandle(Qt::Orientation orientation, ConsoleSplitter *parent) : QSplitterHandle(orientation, parent), owner(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!owner->hintShown())
            return;
        painter.setFont(HintFont(font()));
        painter.setPen(QColor(170, 170, 170));
        painter.drawText(rect().adjusted(8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(kHint));
    }

private:
    ConsoleSplitter *owner;
};

} // namespace

ConsoleSplitter::ConsoleSplitter(QWidget *parent)
    : QSplitter(parent)
    , plainHandleWidth(handleWidth())
{
    setHandleWidth(std::max(plainHandleWidth, QFontMetrics(HintFont(font())).height() + 4));
    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (consoleOpen())
            noteOpened();
    });
}

QSplitterHandle *ConsoleSplitter::createHandle()
{
    return new HintHandle(orientation(), this);
}

bool ConsoleSplitter::consoleOpen() const
{
    const QList<int> heights = sizes();
    return heights.size() > 1 && heights.at(1) > 0;
}

void ConsoleSplitter::toggleConsole()
{
    if (count() < 2)
        return;
    const QList<int> heights = sizes();
    const int total = heights.at(0) + heights.at(1);
    if (consoleOpen()) {
        setSizes({total, 0});
        widget(0)->setFocus(Qt::ShortcutFocusReason);
        return;
    }
    const int console = std::min(total, std::max(widget(1)->minimumHeight(), total / 3));
    setSizes({total - console, console});
    widget(1)->setFocus(Qt::ShortcutFocusReason);
    noteOpened();
}

void ConsoleSplitter::noteOpened()
{
    if (!hint)
        return;
    hint = false;
    setHandleWidth(plainHandleWidth);
}
