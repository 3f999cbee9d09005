#pragma once

// Start-up of the desktop program: the application object, the windows created once,
// the message loop.
int RunViewer(int argc, char** argv);
