#ifndef STARTUP_H
#define STARTUP_H

// The whole life of the program: application object, command line, then the dialog with its
// theme, or the road without a window, and the event loop. Returns the process exit status.
int runUpdater(int &argc, char **argv);

#endif // STARTUP_H
