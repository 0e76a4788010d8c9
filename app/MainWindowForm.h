// The main window's form: the 3D view above the Lua console in a vertical
// splitter. The structure only points at the widgets; Qt's parent-child
// tree owns them.
#pragma once

class ConsoleSplitter;
class Production;
class QMainWindow;
class QVBoxLayout;
class QWidget;
class REPLEdit;
class WorldWidget;

struct MainWindowForm
{
    QWidget *centralWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    ConsoleSplitter *splitter = nullptr;
    WorldWidget *world = nullptr;
    REPLEdit *repl = nullptr;

    // Builds the widgets on `window`, the view showing `production`.
    void SetupForm(QMainWindow *window, Production *production);
};
