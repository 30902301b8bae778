#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace app {

bool installQtTranslations(QCoreApplication &app)
{
    auto *qt = new QTranslator(&app);
    // qt_ru pulls in qtbase_ru and the other modules' files that are installed.
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!qt->load(QStringLiteral("qt_ru"), dir) && !qt->load(QStringLiteral("qtbase_ru"), dir)) {
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}

} // namespace app
