#ifndef TRANSLATION_H
#define TRANSLATION_H

// Installs the compiled-in translation of the first of the user's UI languages that the updater
// has, with Qt's own texts in that language; none where English comes first or nothing fits.
// Call once, after the application object and before any text or window is made.
void loadTranslation();

#endif // TRANSLATION_H
