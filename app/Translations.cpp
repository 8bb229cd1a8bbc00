#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

bool InstallToolkitTranslations(QCoreApplication& app)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_pl"), dir) && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    std::fprintf(stderr,
                 "quorvantel: Qt's Polish translations (qtbase_pl.qm in %s, package "
                 "qt6-translations-l10n) cannot be loaded; the toolkit's own texts stay in English.\n",
                 qPrintable(dir));
    return false;
}
