#ifndef STARTUP_H
#define STARTUP_H

// The whole life of the program: application object, theme, version argument, the dialog and
// the event loop. Returns the event loop's result, the process exit status.
int runUpdater(int &argc, char **argv);

#endif // STARTUP_H
