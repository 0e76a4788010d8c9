// SyncPane: the tracker-style editor of the sync tracks beside the view.
// Columns are the tracks (in the layout's order, a folded group one
// column), as many as the width holds, each as wide as its name and values
// (the whole name on hover); the view scrolls sideways with the cursor.
// Rows are the row grid (beats and bars shaded, the loop tinted); the
// current row is highlighted in the middle. While playing the current row
// follows the time; while paused the cursor keys move the time (and the
// music). Every edit goes through the production's sync file, which writes
// sync.txt, and is one undo step. The layout (width, detached, folded
// groups, column order) is kept in "sync-layout.txt" beside sync.txt.
//
// Keys (the transport's work here and in the view):
//   digits . - Return       set a key at the cursor; Backspace corrects
//   Delete                  remove the key (the block's keys)
//   Shift+arrows            select a block of rows across tracks
//   Ctrl+C, Ctrl+X, Ctrl+V  copy, cut, paste at the cursor (sync.txt's key lines)
//   Insert, Ctrl+Delete     insert rows / delete rows, moving the keys below
//   i                       cycle the key's interpolation
//   Ctrl+Up/Down            bias the block's values by 1 (with Shift 10,
//                           with Alt 0.1); Ctrl+wheel the same
//   n, a, x                 rename, add, delete a track (x asks once)
//   m                       mute a track (its value holds) or unmute it
//   g                       fold or unfold the cursor's group
//   Alt+Left, Alt+Right     move the column
//   d                       detach the pane into its own window, or back
//   b, ], [                 bookmark the row; the next / previous bookmark
//   l                       learn the next controller moved onto the track (l again stops)
//   r                       record on or off: with the transport playing, bound
//                           controls write keys; Ctrl+Z takes back the last pass
//   Ctrl+Z, Ctrl+Shift+Z, Ctrl+Y  undo, redo
//   P                        play / pause
//   Ctrl+Left, Ctrl+Right    one beat back / forward (with Shift: one bar)
//   Home                     back to 0
//   Ctrl+I, Ctrl+O, Ctrl+L   mark the loop's start, its end, clear the loop
//   T                        tap the tempo: from the fourth tap on the bpm
//                            follows the taps, the beat falls on the last
// Shift+T in the pane keeps a tapped bpm in sync.txt (nothing else writes
// it there).
#pragma once

#include "SyncLayout.h"

#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class Production;
class QKeyEvent;
class QTimer;
class Timeline;

class SyncPane : public QWidget
{
public:
    explicit SyncPane(Production *production, QWidget *parent = nullptr);
    ~SyncPane() override;

    // Acts on a transport key; false when `event` is none of them.
    static bool TransportKey(Timeline &timeline, const QKeyEvent *event);

    // The status line as shown.
    QString statusLine() const;
    // What the pane says under the grid (why an edit was not made, what a
    // copy took), empty for nothing.
    const QString &note() const { return message; }
    // The columns drawn by the last paint, as indexes into the layout's
    // columns.
    int firstShownColumn() const { return firstColumn; }
    int shownColumns() const { return static_cast<int>(spans.size()); }
    const SyncLayout &layout() const { return syncLayout; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // What typed text is for: a value, a track's new name, a new track's
    // name, or the one question before a track is deleted.
    enum class Entry { Value, Rename, Add, ConfirmDelete };

    std::vector<SyncColumn> columns() const;
    // The name of the track under the cursor ("" when there are none or
    // the cursor is on a folded group).
    std::string trackName() const;
    // The block of the selection, or the cursor's cell without one, and
    // the names of its tracks.
    SyncRange block() const;
    std::vector<std::string> blockNames() const;
    // Enters the typed text: a value, or a name.
    void enterTyped();
    void keyOfEntry(QKeyEvent *event);
    // Moves the paused time by `rows` rows (not below 0).
    void moveRows(int rows);
    // Moves the cursor `by` columns, keeping (with `select`) or dropping
    // the selection.
    void moveColumn(int by);
    void copy(bool cut);
    void paste();
    void bias(double by);
    // After an edit through the sync file: its outcome, shown.
    void edited(bool done);
    void readLayout();
    // Writes the layout file soon (once for a burst of changes).
    void layoutChanged();
    void writeLayout();

    Production *production;
    QTimer *refresh;
    QTimer *layoutSave;
    SyncLayout syncLayout;
    QString layoutFile;
    std::string layoutWritten; // the file's text as last read or written
    bool layoutApplied = false; // detached as the file says, once
    int column = 0;             // the cursor's column
    int firstColumn = 0;
    std::optional<std::pair<int, int>> anchor; // the selection's other corner: column, row
    Entry entry = Entry::Value;
    QString typed;   // the number or name being typed
    QString message; // why the last edit was not made, or what it did
    // Where the last paint drew each column: its x, width and index.
    struct Span
    {
        int x, width, column;
    };
    std::vector<Span> spans;
};
