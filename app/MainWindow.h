// The main window: performs the ordered start-up in its constructor, ends
// the program on Escape, and shuts the script host and sound down.
#pragma once

#include <QMainWindow>

class QKeyEvent;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
