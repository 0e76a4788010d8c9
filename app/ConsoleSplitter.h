// ConsoleSplitter: the main window's vertical splitter, the view above the
// console. F1 (through the main window) opens and closes the console; until
// the console has been open once, the bar it lies collapsed under says so
// ("F1: Lua console"), taller to hold the words.
#pragma once

#include <QSplitter>

class ConsoleSplitter : public QSplitter
{
public:
    explicit ConsoleSplitter(QWidget *parent = nullptr);

    // Opens the collapsed console (a third of the height, at least its
    // minimum) and gives it the focus, or collapses it and gives the focus
    // to the view. Call once both panes are added.
    void toggleConsole();
    bool consoleOpen() const;
    // The bar still carries its hint: the console has not been open yet.
    bool hintShown() const { return hint; }
    // How much taller the bar is while it carries the hint.
    int extraHandleWidth() const { return handleWidth() - plainHandleWidth; }

protected:
    QSplitterHandle *createHandle() override;

private:
    // The console opened: the hint goes for good, the bar back to its width.
    void noteOpened();

    bool hint = true;
    int plainHandleWidth;
};
