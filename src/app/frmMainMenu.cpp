// The menu bar: the project's commands, the slide history and the program's own description.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QUndoStack>

#include "app/frmMain.h"
#include "controls/LayoutKeys.h"
#include "project/Document.h"
#include "slides/SlideBuffer.h"
#include "slides/frmBuffer.h"

namespace {

// A menu item that shows its key. The key itself is handled for the whole window by CommandKeys or
// UndoKeys, whatever the keyboard layout: the item's own shortcut counts only while its menu is open.
QAction *item(QMenu *menu, const char *name, const QString &text, const QKeySequence &keys = {})
{
    QAction *a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    if (!keys.isEmpty()) {
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetShortcut);
    }
    return a;
}

} // namespace

void frmMain::buildMenu()
{
    MenuBar = new QMenuBar(this);
    MenuBar->setObjectName(QStringLiteral("MenuBar"));
    // In the window on every desktop, so that the controls under it stand where they always have.
    MenuBar->setNativeMenuBar(false);

    mnuFile = MenuBar->addMenu(QStringLiteral("&Файл"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuNew = item(mnuFile, "mnuNew", QStringLiteral("&Новый проект"), QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuOpen = item(mnuFile, "mnuOpen", QStringLiteral("&Открыть…"), QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuRecent = mnuFile->addMenu(QStringLiteral("Открыть &недавний"));
    mnuRecent->setObjectName(QStringLiteral("mnuRecent"));
    mnuImport = item(mnuFile, "mnuImport", QStringLiteral("&Добавить в библиотеку…"), QKeySequence(Qt::CTRL | Qt::Key_I));
    mnuFile->addSeparator();
    mnuSave = item(mnuFile, "mnuSave", QStringLiteral("&Сохранить"), QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuSaveAs = item(mnuFile, "mnuSaveAs", QStringLiteral("Сохранить &как…"),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    mnuFile->addSeparator();
    mnuExport = item(mnuFile, "mnuExport", QStringLiteral("&Экспорт мультфильма…"));
    mnuFile->addSeparator();
    mnuExit = item(mnuFile, "mnuExit", QStringLiteral("&Завершение работы"));

    mnuEdit = MenuBar->addMenu(QStringLiteral("&Правка"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    mnuUndo = item(mnuEdit, "mnuUndo", QStringLiteral("&Отменить"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    mnuRedo = item(mnuEdit, "mnuRedo", QStringLiteral("&Повторить"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    mnuInsert = MenuBar->addMenu(QStringLiteral("&Вставка"));
    mnuInsert->setObjectName(QStringLiteral("mnuInsert"));
    mnuCaption = item(mnuInsert, "mnuCaption", QStringLiteral("&Надпись…"), QKeySequence(Qt::CTRL | Qt::Key_T));
    mnuTitle = item(mnuInsert, "mnuTitle", QStringLiteral("&Титр…"));

    mnuHelp = MenuBar->addMenu(QStringLiteral("&Справка"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuAbout = item(mnuHelp, "mnuAbout", QStringLiteral("&О программе"));

    // The document is made once the scene stands; the commands find it when they run.
    connect(mnuNew, &QAction::triggered, this, [this] { m_document->newProject(); });
    connect(mnuOpen, &QAction::triggered, this, [this] { m_document->open(); });
    connect(mnuSave, &QAction::triggered, this, [this] { m_document->save(); });
    connect(mnuSaveAs, &QAction::triggered, this, [this] { m_document->saveAs(); });
    connect(mnuExport, &QAction::triggered, this, &frmMain::exportCartoon);
    connect(mnuExit, &QAction::triggered, this, &frmMain::Command14_Click);
    connect(mnuUndo, &QAction::triggered, this, &frmMain::Undo);
    connect(mnuRedo, &QAction::triggered, this, &frmMain::Redo);
    connect(mnuImport, &QAction::triggered, this, &frmMain::importAssets);
    connect(mnuCaption, &QAction::triggered, this, &frmMain::Caption_Click);
    connect(mnuTitle, &QAction::triggered, this, &frmMain::Title_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::showAbout);
    connect(mnuRecent, &QMenu::aboutToShow, this, &frmMain::showRecent);
    connect(mnuEdit, &QMenu::aboutToShow, this, [this] {
        mnuUndo->setEnabled(Buffer()->slides().history().canUndo());
        mnuRedo->setEnabled(Buffer()->slides().history().canRedo());
    });
    connect(mnuFile, &QMenu::aboutToShow, this, [this] { mnuExport->setEnabled(Buffer()->slideCount() > 0); });

    auto *keys = new controls::CommandKeys(this);
    keys->add(Qt::Key_N, Qt::ControlModifier, [this] { m_document->newProject(); });
    keys->add(Qt::Key_O, Qt::ControlModifier, [this] { m_document->open(); });
    keys->add(Qt::Key_S, Qt::ControlModifier, [this] { m_document->save(); });
    keys->add(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier, [this] { m_document->saveAs(); });
    keys->add(Qt::Key_I, Qt::ControlModifier, [this] { importAssets(); });
    keys->add(Qt::Key_T, Qt::ControlModifier, [this] { Caption_Click(); });
}

void frmMain::showRecent()
{
    mnuRecent->clear();
    const QStringList recent = m_document->recent();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        // "&1 Мультик.vellumo  (/home/…/Мультик.vellumo)": the number is the item's key.
        QString shown = QStringLiteral("%1  (%2)").arg(QFileInfo(path).fileName(),
                                                       QDir::toNativeSeparators(QFileInfo(path).path()));
        shown.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction *a = mnuRecent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        a->setObjectName(QStringLiteral("mnuRecent%1").arg(i + 1));
        connect(a, &QAction::triggered, this, [this, path] { m_document->openFile(path); });
    }
    if (!recent.isEmpty())
        mnuRecent->addSeparator();
    QAction *clear = mnuRecent->addAction(QStringLiteral("&Очистить список"));
    clear->setObjectName(QStringLiteral("mnuClearRecent"));
    clear->setEnabled(!recent.isEmpty());
    connect(clear, &QAction::triggered, this, [this] { m_document->clearRecent(); });
}

void frmMain::showProject()
{
    setWindowTitle(m_document->title());
    // An untitled project's title has no mark of changes, as the window's title never had one.
    setWindowModified(!m_document->path().isEmpty() && m_document->isModified());
}

void frmMain::showAbout()
{
    m_state.message(this, {QStringLiteral("Vellumo, версия %1\n\n"
                                          "Мультфильмы кадр за кадром: фон, персонажи и предметы на сцене, "
                                          "слайды, просмотр и запись мультфильма в файл.\n\n"
                                          "Лицензия: GNU General Public License версии 3 или любой более поздней. "
                                          "Программа распространяется без каких-либо гарантий.")
                               .arg(QStringLiteral(VELLUMO_VERSION)),
                           QStringLiteral("О программе"), controls::MsgIcon::Information,
                           controls::MsgButtons::Ok});
}
