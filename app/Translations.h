// The toolkit's own texts (the boxes' buttons, the file dialog) in Polish.
#pragma once

class QCoreApplication;

// Installs Qt's Polish translations whatever language the system speaks: the
// window is Polish, and so must be the boxes. Without them (the package
// qt6-translations-l10n missing) the program still runs with the toolkit's
// English texts; a note says so on stderr. Returns whether they were installed.
bool InstallToolkitTranslations(QCoreApplication& app);
