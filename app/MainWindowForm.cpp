// The main window's form: central widget, layout, splitter, view, console.
#include "MainWindowForm.h"

#include "ConsoleSplitter.h"
#include "REPLEdit.h"
#include "WorldWidget.h"

#include <QMainWindow>
#include <QVBoxLayout>

namespace {

// Expanding both ways with the given vertical stretch, keeping the
// widget's own height-for-width setting.
void SetExpanding(QWidget *widget, int verticalStretch)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(verticalStretch);
    policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    widget->setSizePolicy(policy);
}

} // namespace

void MainWindowForm::SetupForm(QMainWindow *window, Production *production)
{
    if (window->objectName().isEmpty())
        window->setObjectName("MainWindow");
    window->resize(403, 442);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName("centralWidget");

    verticalLayout = new QVBoxLayout(centralWidget);
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(0, 0, 0, 0);

    splitter = new ConsoleSplitter(centralWidget);
    splitter->setObjectName("splitter");
    splitter->setOrientation(Qt::Vertical);

    world = new WorldWidget(production, splitter);
    world->setObjectName("world");
    SetExpanding(world, 4);
    world->setMinimumSize(0, 300);
    splitter->addWidget(world);

    repl = new REPLEdit(splitter);
    repl->setObjectName("repl");
    SetExpanding(repl, 1);
    repl->setMinimumSize(300, 100);
    repl->setMaximumSize(16777215, 16777215);
    repl->setFrameShape(QFrame::StyledPanel);
    repl->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    repl->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    splitter->addWidget(repl);

    verticalLayout->addWidget(splitter);
    window->setCentralWidget(centralWidget);
    // The view keeps its height beside the bar's hint.
    window->resize(window->width(), window->height() + splitter->extraHandleWidth());
}
