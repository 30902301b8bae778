#pragma once
// The interface speaks Russian whatever the desktop's language: Qt's own texts
// (context menus, standard dialogs, message-box buttons) come from Qt's
// Russian translations.

class QCoreApplication;

namespace app {

// Loads Qt's Russian translations into `app`; false when they are not installed.
bool installQtTranslations(QCoreApplication &app);

} // namespace app
