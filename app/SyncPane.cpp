// SyncPane: keys, the transport, the layout and the painting of the track grid.
#include "SyncPane.h"

#include "Production.h"
#include "SyncBlock.h"

#include <QClipboard>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const int kRefreshMs = 30;
const int kLayoutSaveMs = 500;
const int kRowColumnChars = 6;
const int kDefaultColumns = 3;
const char kLayoutFileName[] = "sync-layout.txt";

const QColor kBackground(24, 24, 24);
const QColor kBeatRow(40, 40, 40);
const QColor kBarRow(58, 58, 58);
const QColor kLoopTint(40, 70, 140, 90);
const QColor kCurrentRow(120, 100, 20);
const QColor kSelection(60, 140, 90, 110);
const QColor kText(210, 210, 210);
const QColor kDimText(120, 120, 120);
const QColor kKeyText(255, 255, 255);
const QColor kTypedText(255, 220, 80);
const QColor kErrorText(255, 90, 90);
const QColor kMutedText(200, 120, 200);
const QColor kSegment(110, 160, 220);
const QColor kBookmark(230, 120, 40);

// Three letters for a key's interpolation in its cell.
const char *Tag(Interpolation interpolation)
{
    static const char *const tags[] = {"stp", "lin", "smo", "rmp"};
    return tags[static_cast<int>(interpolation)];
}

QString Text(const std::string &text)
{
    return QString::fromStdString(text);
}

// A folded group's header: "▸cam (3)" (as wide as SyncLayout::Chars counts).
QString FoldedName(const SyncColumn &column)
{
    return QStringLiteral("\u25b8%1 (%2)").arg(Text(column.group)).arg(column.tracks.size());
}

// When the key was pressed, in seconds: the event's own time where the
// window system stamps it (so a busy frame does not move the tap), else now.
double KeyTime(const QKeyEvent *event)
{
    if (event->timestamp() != 0)
        return event->timestamp() / 1000.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

SyncPane::SyncPane(Production *production, QWidget *parent)
    : QWidget(parent)
    , production(production)
    , refresh(new QTimer(this))
    , layoutSave(new QTimer(this))
{
    setObjectName("syncPane");
    setFocusPolicy(Qt::StrongFocus);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(12);
    setFont(font);
    // The grid follows the time and the tracks that sync() makes.
    connect(refresh, &QTimer::timeout, this, [this] { update(); });
    layoutSave->setSingleShot(true);
    connect(layoutSave, &QTimer::timeout, this, [this] { writeLayout(); });
    layoutFile = QFileInfo(production->sync().fileName()).dir().filePath(kLayoutFileName);
    readLayout();
}

SyncPane::~SyncPane()
{
    if (layoutSave->isActive())
        writeLayout();
}

QSize SyncPane::sizeHint() const
{
    if (syncLayout.width > 0)
        return QSize(syncLayout.width, 300);
    const int w = QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
    return QSize(w * (kRowColumnChars + kDefaultColumns * 14) + 8, 300);
}

void SyncPane::showEvent(QShowEvent *)
{
    refresh->start(kRefreshMs);
    if (!layoutApplied) {
        layoutApplied = true;
        if (auto *dock = qobject_cast<QDockWidget *>(parentWidget()); dock && syncLayout.detached)
            dock->setFloating(true);
    }
}

void SyncPane::hideEvent(QHideEvent *)
{
    refresh->stop();
}

void SyncPane::resizeEvent(QResizeEvent *)
{
    if (isVisible() && width() != syncLayout.width) {
        syncLayout.width = width();
        layoutChanged();
    }
}

// --- The layout file ---------------------------------------------------------

void SyncPane::readLayout()
{
    QFile file(layoutFile);
    if (!file.exists())
        return;
    std::string error;
    if (file.size() > static_cast<qint64>(SyncLayout::kMaxFileBytes))
        error = "larger than " + std::to_string(SyncLayout::kMaxFileBytes >> 20) + " MB";
    else if (!file.open(QIODevice::ReadOnly))
        error = file.errorString().toStdString();
    else {
        const QByteArray text = file.readAll();
        layoutWritten = text.toStdString();
        ParseSyncLayout(layoutWritten, syncLayout, error);
    }
    if (!error.empty())
        message = QStringLiteral("%1: %2 (the pane starts with its own layout)").arg(layoutFile, Text(error));
}

void SyncPane::layoutChanged()
{
    layoutSave->start(kLayoutSaveMs);
}

void SyncPane::writeLayout()
{
    layoutSave->stop();
    const std::string text = FormatSyncLayout(syncLayout);
    if (text == layoutWritten)
        return;
    QSaveFile file(layoutFile);
    if (file.open(QIODevice::WriteOnly) && file.write(text.data(), static_cast<qint64>(text.size())) ==
                                               static_cast<qint64>(text.size()) && file.commit())
        layoutWritten = text;
    else
        message = QStringLiteral("cannot write %1: %2").arg(layoutFile, file.errorString());
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
    case Qt::Key_T:
        if (mods != Qt::NoModifier || event->isAutoRepeat())
            return false;
        timeline.tap(KeyTime(event), timeline.timeNow());
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

std::vector<SyncColumn> SyncPane::columns() const
{
    return syncLayout.columns(production->sync().tracks());
}

std::string SyncPane::trackName() const
{
    const std::vector<SyncColumn> all = columns();
    if (all.empty())
        return std::string();
    const SyncColumn &at = all[std::min<size_t>(column, all.size() - 1)];
    return at.folded ? std::string() : production->sync().tracks().track(at.tracks.front()).name();
}

SyncRange SyncPane::block() const
{
    const int row = production->timeline().wholeRow();
    return anchor ? SyncRange::Between(anchor->first, anchor->second, column, row)
                  : SyncRange{column, column, row, row};
}

std::vector<std::string> SyncPane::blockNames() const
{
    const SyncRange range = block();
    return SyncLayout::Names(production->sync().tracks(), columns(), range.firstColumn, range.lastColumn);
}

void SyncPane::edited(bool done)
{
    production->syncChanged();
    if (done)
        message.clear();
    else if (!production->sync().error().empty())
        message = Text(production->sync().fileName().toStdString() + ": " + production->sync().error());
    update();
}

void SyncPane::enterTyped()
{
    SyncFile &sync = production->sync();
    const std::string name = typed.toStdString();
    const std::string current = trackName();
    const Entry was = entry;
    entry = Entry::Value;
    if (was == Entry::Rename || was == Entry::Add) {
        if (!SyncTracks::IsTrackName(name)) {
            message = QStringLiteral("'%1' cannot be a track name (no spaces)").arg(typed);
        } else if (sync.tracks().find(name)) {
            message = QStringLiteral("there is a track '%1' already").arg(typed);
        } else if (was == Entry::Rename) {
            const bool done = sync.renameTrack(current, name);
            edited(done);
            if (done) {
                syncLayout.renamed(current, name);
                layoutChanged();
                message = QStringLiteral("renamed: sync(\"%1\") in the production reads it now").arg(typed);
            }
        } else {
            const int after = current.empty() ? sync.tracks().count() : sync.tracks().indexOf(current) + 1;
            const auto place = std::find(syncLayout.order.begin(), syncLayout.order.end(), current);
            if (place != syncLayout.order.end())
                syncLayout.order.insert(place + 1, name);
            edited(sync.addTrack(name, after));
            layoutChanged();
            moveColumn(1);
        }
    } else {
        bool number = false;
        const double value = typed.toDouble(&number); // "." whatever the locale
        if (!number || !std::isfinite(value))
            message = QStringLiteral("'%1' is not a number").arg(typed);
        else if (current.empty())
            message = columns().empty() ? QStringLiteral("no track yet: sync(\"name\") in the production or a makes one")
                                        : QStringLiteral("a folded group: g unfolds it to edit its tracks");
        else
            edited(sync.setKey(current, production->timeline().wholeRow(), value));
    }
    typed.clear();
}

// Keys while a name is typed or a deletion asked for.
void SyncPane::keyOfEntry(QKeyEvent *event)
{
    const QString text = event->text();
    if (entry == Entry::ConfirmDelete) {
        const std::string name = trackName();
        entry = Entry::Value;
        if (event->key() == Qt::Key_X && event->modifiers() == Qt::NoModifier)
            edited(production->sync().removeTrack(name));
        else
            message = QStringLiteral("the track stays");
    } else if (event->key() == Qt::Key_Escape) {
        entry = Entry::Value;
        typed.clear();
        message.clear();
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        enterTyped();
    } else if (event->key() == Qt::Key_Backspace) {
        typed.chop(1);
    } else if (text.size() == 1 && SyncTracks::IsTrackName(text.toStdString())) {
        typed += text;
    }
}

void SyncPane::moveRows(int rows)
{
    Timeline &timeline = production->timeline();
    if (timeline.playing())
        return; // the cursor follows the time
    timeline.seekRow(std::max(0, timeline.wholeRow() + rows));
}

void SyncPane::moveColumn(int by)
{
    const int count = static_cast<int>(columns().size());
    column = std::max(0, std::min(column + by, count - 1));
}

void SyncPane::copy(bool cut)
{
    const SyncRange range = block();
    const std::vector<std::string> names = blockNames();
    const SyncBlock copied = CopySyncBlock(production->sync().tracks(), names, range.firstRow, range.rows());
    QGuiApplication::clipboard()->setText(Text(FormatSyncBlock(copied)));
    if (cut)
        edited(production->sync().clearRows(names, range.firstRow, range.rows()));
    message = QStringLiteral("%1 %2 keys of %3 tracks, %4 rows")
                  .arg(cut ? "cut" : "copied")
                  .arg(copied.keyCount())
                  .arg(names.size())
                  .arg(range.rows());
}

void SyncPane::paste()
{
    SyncBlock pasted;
    std::string error;
    if (!ParseSyncBlock(QGuiApplication::clipboard()->text().toStdString(), pasted, error)) {
        message = QStringLiteral("nothing pasted: the clipboard holds no sync keys (%1)").arg(Text(error));
        return;
    }
    const std::vector<SyncColumn> all = columns();
    const std::vector<std::string> targets =
        SyncLayout::Names(production->sync().tracks(), all, column, static_cast<int>(all.size()) - 1);
    anchor.reset();
    edited(production->sync().paste(pasted, targets, production->timeline().wholeRow()));
    if (targets.size() < pasted.tracks.size())
        message = QStringLiteral("%1 of the clipboard's %2 tracks pasted: no more tracks to the right")
                      .arg(targets.size())
                      .arg(pasted.tracks.size());
}

void SyncPane::bias(double by)
{
    const SyncRange range = block();
    edited(production->sync().bias(blockNames(), range.firstRow, range.rows(), by));
}

void SyncPane::keyPressEvent(QKeyEvent *event)
{
    Timeline &timeline = production->timeline();
    SyncFile &sync = production->sync();
    const int bar = timeline.rowsPerBeat() * Timeline::kBeatsPerBar;
    const QString text = event->text();
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                                             Qt::AltModifier | Qt::MetaModifier);
    const bool plain = (mods & ~Qt::ShiftModifier) == 0;
    const bool ctrl = mods & Qt::ControlModifier;
    const int key = event->key();
    const bool vertical = key == Qt::Key_Up || key == Qt::Key_Down;
    const bool horizontal = key == Qt::Key_Left || key == Qt::Key_Right;
    const int sign = key == Qt::Key_Up || key == Qt::Key_Left ? -1 : 1;

    if (entry != Entry::Value) {
        keyOfEntry(event);
    } else if (TransportKey(timeline, event)) {
    } else if (event->matches(QKeySequence::Undo)) {
        edited(sync.undo());
    } else if (event->matches(QKeySequence::Redo) || (key == Qt::Key_Y && mods == Qt::ControlModifier)) {
        edited(sync.redo());
    } else if (mods == Qt::ControlModifier && (key == Qt::Key_C || key == Qt::Key_X)) {
        copy(key == Qt::Key_X);
    } else if (mods == Qt::ControlModifier && key == Qt::Key_V) {
        paste();
    } else if (ctrl && vertical && (mods & ~(Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier)) == 0) {
        bias(-sign * (mods & Qt::ShiftModifier ? 10.0 : mods & Qt::AltModifier ? 0.1 : 1.0));
    } else if (mods == Qt::AltModifier && horizontal) {
        column = syncLayout.move(sync.tracks(), column, sign);
        layoutChanged();
    } else if (plain && text.size() == 1 && (text[0].isDigit() || text == "." || text == "-")) {
        typed += text;
    } else if (key == Qt::Key_Backspace) {
        typed.chop(1);
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (!typed.isEmpty())
            enterTyped();
    } else if (plain && key == Qt::Key_I) {
        edited(sync.cycleInterpolation(trackName(), timeline.wholeRow()));
    } else if (plain && key == Qt::Key_L) {
        SyncControl &control = production->syncControl();
        control.learn(control.learning().empty() ? trackName() : std::string());
    } else if (plain && key == Qt::Key_R) {
        production->syncControl().setRecording(!production->syncControl().recording());
    } else if (key == Qt::Key_T && mods == Qt::ShiftModifier) {
        if (timeline.tapped())
            edited(sync.setBpm(timeline.bpm()));
        else
            message = QStringLiteral("no tapped tempo to keep: tap T four times or more first");
    } else if (plain && key == Qt::Key_B) {
        edited(sync.toggleBookmark(timeline.wholeRow()));
    } else if (plain && key == Qt::Key_M) {
        const SyncTrack *track = sync.tracks().find(trackName());
        edited(track && sync.toggleMute(track->name(), track->valueAt(timeline.row())));
    } else if (plain && (key == Qt::Key_N || key == Qt::Key_A || key == Qt::Key_X)) {
        if (key != Qt::Key_A && trackName().empty()) {
            message = QStringLiteral("no track at the cursor");
        } else {
            entry = key == Qt::Key_N ? Entry::Rename : key == Qt::Key_A ? Entry::Add : Entry::ConfirmDelete;
            typed = key == Qt::Key_N ? Text(trackName()) : QString();
            const SyncTrack *track = sync.tracks().find(trackName());
            message = key == Qt::Key_N   ? QStringLiteral("new name, then Return (Escape keeps it)")
                      : key == Qt::Key_A ? QStringLiteral("the new track's name, then Return (Escape: none)")
                                         : QStringLiteral("delete track '%1' and its %2 keys? x deletes it, "
                                                          "any other key keeps it")
                                               .arg(Text(trackName()))
                                               .arg(track ? track->keys().size() : 0);
        }
    } else if (plain && key == Qt::Key_G) {
        const std::vector<SyncColumn> all = columns();
        const SyncColumn *at = all.empty() ? nullptr : &all[std::min<size_t>(column, all.size() - 1)];
        if (at && !at->group.empty()) {
            syncLayout.toggleFold(at->group);
            const std::vector<SyncColumn> now = columns();
            const int track = at->tracks.front();
            column = static_cast<int>(std::find_if(now.begin(), now.end(), [&](const SyncColumn &c) {
                                          return std::count(c.tracks.begin(), c.tracks.end(), track) > 0;
                                      }) - now.begin());
            anchor.reset();
            layoutChanged();
        } else {
            message = QStringLiteral("not in a group: a track named group:name is in the group 'group'");
        }
    } else if (plain && key == Qt::Key_D) {
        if (auto *dock = qobject_cast<QDockWidget *>(parentWidget())) {
            dock->setFloating(!dock->isFloating());
            syncLayout.detached = dock->isFloating();
            layoutChanged();
            setFocus(Qt::OtherFocusReason);
        }
    } else if (text == "]" || text == "[") {
        const SyncTracks &all = sync.tracks();
        const int mark = text == "]" ? all.nextBookmark(timeline.wholeRow()) : all.previousBookmark(timeline.wholeRow());
        if (mark >= 0)
            timeline.seekRow(mark);
    } else if (key == Qt::Key_Insert && mods == Qt::NoModifier) {
        edited(sync.insertRows(blockNames(), block().firstRow, block().rows()));
    } else if (key == Qt::Key_Delete && mods == Qt::ControlModifier) {
        edited(sync.deleteRows(blockNames(), block().firstRow, block().rows()));
    } else if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
        if (anchor)
            edited(sync.clearRows(blockNames(), block().firstRow, block().rows()));
        else
            edited(sync.removeKey(trackName(), timeline.wholeRow()));
    } else if ((mods == Qt::NoModifier || mods == Qt::ShiftModifier) &&
               (vertical || horizontal || key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        if (mods == Qt::ShiftModifier && !anchor)
            anchor = std::make_pair(column, timeline.wholeRow());
        else if (mods == Qt::NoModifier)
            anchor.reset();
        if (horizontal)
            moveColumn(sign);
        else
            moveRows(vertical ? sign : (key == Qt::Key_PageUp ? -bar : bar));
    } else if (key == Qt::Key_Escape && anchor) {
        anchor.reset();
    } else {
        // F2, Escape and the rest go on to the main window, also from the
        // pane's own window when it is detached.
        auto *dock = qobject_cast<QDockWidget *>(parentWidget());
        if (dock && dock->isFloating() && dock->parentWidget())
            QCoreApplication::sendEvent(dock->parentWidget(), event);
        else
            QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    update();
}

void SyncPane::wheelEvent(QWheelEvent *event)
{
    // Alt turns the wheel sideways: either way is the wheel's turn.
    const QPoint delta = event->angleDelta();
    const int turn = delta.y() != 0 ? delta.y() : delta.x();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (turn == 0)
        return;
    if (mods & Qt::ControlModifier)
        bias((turn > 0 ? 1 : -1) * (mods & Qt::ShiftModifier ? 10.0 : mods & Qt::AltModifier ? 0.1 : 1.0));
    else if (mods & Qt::ShiftModifier || delta.x() != 0)
        moveColumn(turn > 0 ? -1 : 1);
    else
        moveRows(turn > 0 ? -1 : 1);
    event->accept();
    update();
}

bool SyncPane::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const std::vector<SyncColumn> all = columns();
        const SyncTracks &tracks = production->sync().tracks();
        QString tip;
        for (const Span &span : spans) {
            if (help->pos().x() >= span.x && help->pos().x() < span.x + span.width &&
                span.column < static_cast<int>(all.size())) {
                for (const std::string &name : SyncLayout::Names(tracks, all, span.column, span.column)) {
                    const SyncTrack *track = tracks.find(name);
                    tip += (tip.isEmpty() ? "" : "\n") + Text(name) +
                           (track && track->held() ? QStringLiteral(" (muted)") : QString());
                }
            }
        }
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
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
    const std::vector<SyncColumn> all = columns();
    column = std::max(0, std::min(column, static_cast<int>(all.size()) - 1));

    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    const int ascent = metrics.ascent();
    const int charWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    const int rowColumn = kRowColumnChars * charWidth;
    const auto textAt = [&](int x, int y, const QString &text, const QColor &colour) {
        painter.setPen(colour);
        painter.drawText(x, y + ascent, text);
    };

    // The columns that fit, scrolled to show the cursor's.
    std::vector<int> chars;
    chars.reserve(all.size());
    for (const SyncColumn &c : all)
        chars.push_back(SyncLayout::Chars(tracks, c));
    const int room = (width() - rowColumn) / charWidth;
    firstColumn = SyncLayout::Scroll(chars, std::min(firstColumn, std::max(0, column)), column, room);
    spans.clear();
    for (int c = firstColumn, x = rowColumn; c < firstColumn + SyncLayout::Fit(chars, firstColumn, room); ++c) {
        spans.push_back(Span{x, chars[c] * charWidth, c});
        x += chars[c] * charWidth;
    }

    // Status, then a line of track names and one of their current values.
    textAt(4, 2, statusLine(), kText);
    const int headerTop = 2 + lineHeight + 4;
    const int gridTop = headerTop + 2 * lineHeight + 4;
    const double row = timeline.row();
    for (const Span &span : spans) {
        const SyncColumn &c = all[span.column];
        const QColor colour = span.column == column ? kKeyText : kDimText;
        const int cut = span.width - charWidth;
        if (c.folded) {
            textAt(span.x, headerTop, FoldedName(c), colour);
            continue;
        }
        const SyncTrack &track = tracks.track(c.tracks.front());
        const bool renaming = entry == Entry::Rename && span.column == column;
        textAt(span.x, headerTop,
               renaming ? typed + QLatin1Char('_') : metrics.elidedText(Text(track.name()), Qt::ElideRight, cut),
               renaming ? kTypedText : colour);
        textAt(span.x, headerTop + lineHeight,
               (track.held() ? QStringLiteral("muted ") : QString()) + Text(FormatNumber(track.valueAt(row))),
               track.held() ? kMutedText : colour);
    }
    if (all.empty())
        textAt(rowColumn, headerTop, QStringLiteral("no tracks: sync(\"name\") or a makes one"), kDimText);

    // The grid, the current row in its middle.
    const bool noting = !message.isEmpty() || entry == Entry::Add;
    const int bottom = height() - (noting ? lineHeight + 2 : 0);
    const int visibleRows = std::max(1, (bottom - gridTop) / lineHeight);
    const int current = timeline.wholeRow();
    const int firstRow = current - visibleRows / 2;
    const int bar = timeline.rowsPerBeat() * Timeline::kBeatsPerBar;
    const SyncRange selected = block();
    const QString dot = QStringLiteral("\u00b7");
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

        for (const Span &span : spans) {
            const SyncColumn &c = all[span.column];
            const int valueChars = chars[span.column] - 5;
            if (anchor && selected.contains(span.column, r))
                painter.fillRect(span.x - 2, y, span.width - charWidth + 2, lineHeight, kSelection);
            const bool cursor = r == current && span.column == column;
            if (cursor) {
                painter.setPen(kTypedText);
                painter.drawRect(span.x - 2, y, span.width - charWidth, lineHeight - 1);
            }
            if (c.folded) {
                // A folded group shows how many of its tracks have a key on the row.
                const auto keyed = std::count_if(c.tracks.begin(), c.tracks.end(),
                                                 [&](int t) { return tracks.track(t).keyAt(r) != nullptr; });
                if (keyed > 0)
                    textAt(span.x, y, QStringLiteral("%1 keys").arg(keyed), kKeyText);
                continue;
            }
            const SyncTrack &track = tracks.track(c.tracks.front());
            if (cursor && !typed.isEmpty() && entry == Entry::Value) {
                textAt(span.x, y, typed + QLatin1Char('_'), kTypedText);
            } else if (const SyncKey *key = track.keyAt(r)) {
                const QString value = Text(FormatNumber(key->value));
                textAt(span.x, y, value.rightJustified(valueChars) + QLatin1Char(' ') + QLatin1String(Tag(key->interpolation)),
                       track.held() ? kMutedText : kKeyText);
            } else {
                // A row inside an interpolated stretch shows a line.
                const std::vector<SyncKey> &keys = track.keys();
                const auto after = std::upper_bound(keys.begin(), keys.end(), r,
                                                    [](int value, const SyncKey &k) { return value < k.row; });
                if (after != keys.begin() && after != keys.end() &&
                    (after - 1)->interpolation != Interpolation::Step)
                    painter.fillRect(span.x + (valueChars - 2) * charWidth, y, 2, lineHeight, kSegment);
                else
                    textAt(span.x + (valueChars + 2) * charWidth, y, dot, kDimText);
            }
        }
    }
    if (entry == Entry::Add)
        textAt(4, bottom, QStringLiteral("new track: ") + typed + QLatin1Char('_'), kTypedText);
    else if (!message.isEmpty())
        textAt(4, bottom, metrics.elidedText(message, Qt::ElideRight, width() - 8), kErrorText);
}
