// SyncPane: keys, the transport and the painting of the track grid.
#include "SyncPane.h"

#include "Production.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const int kRefreshMs = 30;
const int kRowColumnChars = 6;
const int kTrackColumnChars = 16;

const QColor kBackground(24, 24, 24);
const QColor kBeatRow(40, 40, 40);
const QColor kBarRow(58, 58, 58);
const QColor kLoopTint(40, 70, 140, 90);
const QColor kCurrentRow(120, 100, 20);
const QColor kText(210, 210, 210);
const QColor kDimText(120, 120, 120);
const QColor kKeyText(255, 255, 255);
const QColor kTypedText(255, 220, 80);
const QColor kErrorText(255, 90, 90);
const QColor kSegment(110, 160, 220);
const QColor kBookmark(230, 120, 40);

// Three letters for a key's interpolation in its cell.
const char *Tag(Interpolation interpolation)
{
    static const char *const tags[] = {"stp", "lin", "smo", "rmp"};
    return tags[static_cast<int>(interpolation)];
}

} // namespace

SyncPane::SyncPane(Production *production, QWidget *parent)
    : QWidget(parent)
    , production(production)
    , refresh(new QTimer(this))
{
    setObjectName("syncPane");
    setFocusPolicy(Qt::StrongFocus);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(12);
    setFont(font);
    // The grid follows the time and the tracks that sync() makes.
    connect(refresh, &QTimer::timeout, this, [this] { update(); });
}

QSize SyncPane::sizeHint() const
{
    const int w = QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
    return QSize(w * (kRowColumnChars + 2 * kTrackColumnChars) + 8, 300);
}

void SyncPane::showEvent(QShowEvent *)
{
    refresh->start(kRefreshMs);
}

void SyncPane::hideEvent(QHideEvent *)
{
    refresh->stop();
}

// --- Keys ---------------------------------------------------------------------

bool SyncPane::TransportKey(Timeline &timeline, const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                                             Qt::AltModifier | Qt::MetaModifier);
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    switch (event->key()) {
    case Qt::Key_P:
        if (mods != Qt::NoModifier)
            return false;
        timeline.togglePlay();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!ctrl && !ctrlShift)
            return false;
        timeline.stepBeats((event->key() == Qt::Key_Left ? -1 : 1) * (ctrlShift ? Timeline::kBeatsPerBar : 1));
        return true;
    case Qt::Key_Home:
        if (mods != Qt::NoModifier)
            return false;
        timeline.seek(0.0);
        return true;
    case Qt::Key_I:
    case Qt::Key_O:
    case Qt::Key_L:
        if (!ctrl)
            return false;
        if (event->key() == Qt::Key_I)
            timeline.markLoopIn();
        else if (event->key() == Qt::Key_O)
            timeline.markLoopOut();
        else
            timeline.clearLoop();
        return true;
    default:
        return false;
    }
}

std::string SyncPane::trackName() const
{
    const SyncTracks &tracks = production->sync().tracks();
    return tracks.count() > 0 ? tracks.track(std::min(trackIndex, tracks.count() - 1)).name() : std::string();
}

void SyncPane::edited(bool done)
{
    production->syncChanged();
    if (done)
        message.clear();
    else if (!production->sync().error().empty())
        message = QString::fromStdString(production->sync().fileName().toStdString() + ": " +
                                         production->sync().error());
    update();
}

void SyncPane::enterTyped()
{
    bool number = false;
    const double value = typed.toDouble(&number); // "." whatever the locale
    if (!number || !std::isfinite(value)) {
        message = QStringLiteral("'%1' is not a number").arg(typed);
    } else if (trackName().empty()) {
        message = QStringLiteral("no track yet: sync(\"name\") in the production makes one");
    } else {
        edited(production->sync().setKey(trackName(), production->timeline().wholeRow(), value));
    }
    typed.clear();
}

void SyncPane::moveRows(int rows)
{
    Timeline &timeline = production->timeline();
    if (timeline.playing())
        return; // the cursor follows the time
    timeline.seekRow(std::max(0, timeline.wholeRow() + rows));
}

void SyncPane::keyPressEvent(QKeyEvent *event)
{
    Timeline &timeline = production->timeline();
    const int bar = timeline.rowsPerBeat() * Timeline::kBeatsPerBar;
    const int tracks = production->sync().tracks().count();
    const QString text = event->text();
    const bool plain = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;

    if (TransportKey(timeline, event)) {
    } else if (event->matches(QKeySequence::Undo)) {
        edited(production->sync().undo());
    } else if (event->matches(QKeySequence::Redo) ||
               (event->key() == Qt::Key_Y && event->modifiers() == Qt::ControlModifier)) {
        edited(production->sync().redo());
    } else if (plain && text.size() == 1 && (text[0].isDigit() || text == "." || text == "-")) {
        typed += text;
    } else if (event->key() == Qt::Key_Backspace) {
        typed.chop(1);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!typed.isEmpty())
            enterTyped();
    } else if (plain && event->key() == Qt::Key_I) {
        edited(production->sync().cycleInterpolation(trackName(), timeline.wholeRow()));
    } else if (plain && event->key() == Qt::Key_L) {
        SyncControl &control = production->syncControl();
        control.learn(control.learning().empty() ? trackName() : std::string());
    } else if (plain && event->key() == Qt::Key_R) {
        production->syncControl().setRecording(!production->syncControl().recording());
    } else if (plain && event->key() == Qt::Key_B) {
        edited(production->sync().toggleBookmark(timeline.wholeRow()));
    } else if (text == "]" || text == "[") {
        const SyncTracks &all = production->sync().tracks();
        const int mark = text == "]" ? all.nextBookmark(timeline.wholeRow()) : all.previousBookmark(timeline.wholeRow());
        if (mark >= 0)
            timeline.seekRow(mark);
    } else if (event->key() == Qt::Key_Delete) {
        edited(production->sync().removeKey(trackName(), timeline.wholeRow()));
    } else if (event->key() == Qt::Key_Left) {
        trackIndex = std::max(0, trackIndex - 1);
    } else if (event->key() == Qt::Key_Right) {
        trackIndex = std::max(0, std::min(trackIndex + 1, tracks - 1));
    } else if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        moveRows(event->key() == Qt::Key_Up ? -1 : 1);
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        moveRows(event->key() == Qt::Key_PageUp ? -bar : bar);
    } else {
        // F2, Escape and the rest go on to the main window.
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    update();
}

// --- Painting -------------------------------------------------------------------

QString SyncPane::statusLine() const
{
    const SyncControl &control = production->syncControl();
    std::string line = production->timeline().status();
    if (!control.learning().empty())
        line += "  learning " + control.learning() + ": move a control";
    if (control.recording())
        line += "  REC";
    return QString::fromStdString(line);
}

void SyncPane::paintEvent(QPaintEvent *)
{
    const Timeline &timeline = production->timeline();
    const SyncTracks &tracks = production->sync().tracks();
    trackIndex = std::max(0, std::min(trackIndex, tracks.count() - 1));

    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    const int ascent = metrics.ascent();
    const int charWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    const int rowColumn = kRowColumnChars * charWidth;
    const int trackColumn = kTrackColumnChars * charWidth;
    const auto textAt = [&](int x, int y, const QString &text, const QColor &colour) {
        painter.setPen(colour);
        painter.drawText(x, y + ascent, text);
    };

    // Status, then a line of track names and one of their current values.
    textAt(4, 2, statusLine(), kText);
    const int headerTop = 2 + lineHeight + 4;
    const int gridTop = headerTop + 2 * lineHeight + 4;
    const int columns = std::max(1, (width() - rowColumn) / trackColumn);
    const int firstTrack = std::max(0, trackIndex - columns + 1);
    const double row = timeline.row();
    for (int c = 0; c < columns && firstTrack + c < tracks.count(); ++c) {
        const SyncTrack &track = tracks.track(firstTrack + c);
        const int x = rowColumn + c * trackColumn;
        const QColor colour = firstTrack + c == trackIndex ? kKeyText : kDimText;
        textAt(x, headerTop, metrics.elidedText(QString::fromStdString(track.name()), Qt::ElideRight,
                                                trackColumn - charWidth), colour);
        textAt(x, headerTop + lineHeight, QString::fromStdString(FormatNumber(track.valueAt(row))), colour);
    }
    if (tracks.count() == 0)
        textAt(rowColumn, headerTop, QStringLiteral("no tracks: sync(\"name\") makes one"), kDimText);

    // The grid, the current row in its middle.
    const int bottom = height() - (message.isEmpty() ? 0 : lineHeight + 2);
    const int visibleRows = std::max(1, (bottom - gridTop) / lineHeight);
    const int current = timeline.wholeRow();
    const int firstRow = current - visibleRows / 2;
    const int bar = timeline.rowsPerBeat() * Timeline::kBeatsPerBar;
    for (int i = 0; i < visibleRows; ++i) {
        const int r = firstRow + i;
        if (r < 0)
            continue;
        const int y = gridTop + i * lineHeight;
        const QRect line(0, y, width(), lineHeight);
        if (r == current)
            painter.fillRect(line, kCurrentRow);
        else if (r % bar == 0)
            painter.fillRect(line, kBarRow);
        else if (r % timeline.rowsPerBeat() == 0)
            painter.fillRect(line, kBeatRow);
        if (timeline.loopIn() >= 0 && timeline.loopOut() > timeline.loopIn() && r >= timeline.loopIn() &&
            r < timeline.loopOut())
            painter.fillRect(line, kLoopTint);
        if (std::binary_search(tracks.bookmarks().begin(), tracks.bookmarks().end(), r))
            painter.fillRect(0, y, 3, lineHeight, kBookmark);
        textAt(4, y, QString::number(r).rightJustified(kRowColumnChars - 2), r % bar == 0 ? kKeyText : kDimText);

        for (int c = 0; c < columns && firstTrack + c < tracks.count(); ++c) {
            const SyncTrack &track = tracks.track(firstTrack + c);
            const int x = rowColumn + c * trackColumn;
            const bool cursor = r == current && firstTrack + c == trackIndex;
            if (cursor) {
                painter.setPen(kTypedText);
                painter.drawRect(x - 2, y, trackColumn - charWidth, lineHeight - 1);
            }
            if (cursor && !typed.isEmpty()) {
                textAt(x, y, typed + QLatin1Char('_'), kTypedText);
            } else if (const SyncKey *key = track.keyAt(r)) {
                const QString value = QString::fromStdString(FormatNumber(key->value));
                textAt(x, y, value.rightJustified(kTrackColumnChars - 5) + QLatin1Char(' ') +
                                 QLatin1String(Tag(key->interpolation)), kKeyText);
            } else {
                // A row inside an interpolated stretch shows a line.
                const std::vector<SyncKey> &keys = track.keys();
                const auto after = std::upper_bound(keys.begin(), keys.end(), r,
                                                    [](int value, const SyncKey &k) { return value < k.row; });
                if (after != keys.begin() && after != keys.end() &&
                    (after - 1)->interpolation != Interpolation::Step)
                    painter.fillRect(x + (kTrackColumnChars - 7) * charWidth, y, 2, lineHeight, kSegment);
                else
                    textAt(x, y, QString(kTrackColumnChars - 5, QLatin1Char(' ')) + QStringLiteral("  ·"),
                           kDimText);
            }
        }
    }
    if (!message.isEmpty())
        textAt(4, bottom, metrics.elidedText(message, Qt::ElideRight, width() - 8), kErrorText);
}
