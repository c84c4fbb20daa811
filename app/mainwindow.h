#pragma once

// Window 1: loaded from the bundle's "MainWindow" resource once per run,
// with the menu bar, centred, and made the current window. Hidden when
// `show` is false (the report command builds it without showing it).
void ShowMainWindow(bool show = true);
// Scroll view 2 and the report's text view 1 inside it, in the current window.
void BuildReportArea();
// On Linux the main window can be resized: the report area grows with it,
// and its size and place are kept in Window.ini beside the settings file
// (after LoadSettings). On a Mac the window keeps its fixed size.
void KeepMainWindowGeometry();
