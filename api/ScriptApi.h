// Registration of the script interface: the default callbacks and the
// native functions a production calls, in their fixed order.
#pragma once

class QMainWindow;

// The program's main window, set by its constructor before anything else
// runs; the window functions act on it. Never cleared.
extern QMainWindow *gMainWindow;

// Defines the empty default callbacks (init, update, render, LMBDown,
// LMBUp, OnMouseMove, getProdMp3Name) and registers the script functions.
// A production run afterwards may replace any of them.
void RegisterScriptApi();
