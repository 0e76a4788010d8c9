// SyncPane: the tracker-style editor of the sync tracks beside the view.
// Columns are the tracks in file order, rows the row grid (beats and bars
// shaded, the loop tinted); the current row is highlighted in the middle.
// While playing the current row follows the time; while paused the cursor
// keys move the time (and the music). A number and Return set a key at the
// cursor, `i` cycles its interpolation, Delete removes it; `b` sets or
// clears a bookmark on the current row (marked at the row's left edge),
// `]` and `[` move the time to the next / previous bookmark; Ctrl+Z undoes
// an edit, Ctrl+Shift+Z or Ctrl+Y redoes it; every edit goes through the
// production's sync file, which writes sync.txt. `l` learns a controller
// onto the track at the cursor (the next one moved; `l` again stops), `r`
// turns recording on and off (with the transport playing, bound controls
// write keys; Ctrl+Z takes back the last pass).
//
// Above the grid a one-line status: time, bar.beat, row, playing or paused,
// the loop, then the learning and "REC" while they are on. The transport keys work here and in the view:
//   P                        play / pause
//   Ctrl+Left, Ctrl+Right    one beat back / forward (with Shift: one bar)
//   Home                     back to 0
//   Ctrl+I, Ctrl+O, Ctrl+L   mark the loop's start, its end, clear the loop
#pragma once

#include <QString>
#include <QWidget>

#include <string>

class Production;
class QKeyEvent;
class QTimer;
class Timeline;

class SyncPane : public QWidget
{
public:
    explicit SyncPane(Production *production, QWidget *parent = nullptr);

    // Acts on a transport key; false when `event` is none of them.
    static bool TransportKey(Timeline &timeline, const QKeyEvent *event);

    // The track the cursor is on (0 when there are none).
    int currentTrack() const { return trackIndex; }
    // The status line as shown.
    QString statusLine() const;

    QSize sizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // The name of the track under the cursor ("" when there are none).
    std::string trackName() const;
    // Enters the typed number as a key at the cursor.
    void enterTyped();
    // Moves the paused time by `rows` rows (not below 0).
    void moveRows(int rows);
    // After an edit through the sync file: its outcome, shown.
    void edited(bool done);

    Production *production;
    QTimer *refresh;
    int trackIndex = 0;
    QString typed;    // the number being typed
    QString message;  // why the last edit was not made
};
