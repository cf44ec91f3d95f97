#ifndef THEME_H
#define THEME_H

// Applies the compiled-in dark stylesheet to the whole application, or says on standard
// output that it is missing. Call once, after the application object and before any widget.
void loadStyleSheet();

#endif // THEME_H
