#pragma once
// The project the main window shows: which file it is kept in, whether
// anything changed since it was last saved or opened, and the commands that
// save, open and start one. Saving and opening read and put back the whole
// scene through a snapshot and the slides through the slide buffer, never
// through the window's controls one by one.
//
// A project that was never saved is "untitled": the window looks and
// behaves as it always has, and only "Новый проект" and "Открыть…" ask
// before they would drop its work. A named project also asks when the
// program ends.

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

#include "project/ProjectFile.h"
#include "project/ProjectLock.h"
#include "project/SceneSnapshot.h"

class frmMain;
struct AppState;
namespace slides {
class SlideBuffer;
}

namespace project {

class Document : public QObject {
    Q_OBJECT
public:
    // Takes the window's scene as it is now as the one "Новый проект" brings back.
    Document(frmMain &main, AppState &state);
    ~Document() override;

    QString path() const { return m_path; }
    // The file's name without ".vellumo"; empty while untitled.
    QString name() const;
    bool isModified() const;
    bool isReadOnly() const { return m_readOnly; }
    // The window's title: as it always was while untitled, else "NAME — Vellumo" with a mark for changes.
    QString title() const;

    // ---- The menu's commands; each is true when it went through ----
    bool newProject();
    bool open();                         // asks for a file
    bool openFile(const QString &path);  // asks about unsaved changes first
    bool save();
    bool saveAs();
    // Before the program ends: a named project with changes asks whether to save them. False when the
    // person cancelled or the save failed, and the program should stay.
    bool mayLeave();

    // Opens `path` without asking about the work on screen (the command line, a recovered journal).
    bool load(const QString &path);
    // The project a recovered journal belonged to: the work on screen is it, with unsaved changes.
    void adoptRecovered(const QString &path);

    // The projects opened or saved last, newest first (at most 8), kept between runs.
    QStringList recent() const { return m_recent; }
    void clearRecent();

    // Compares the scene with the one last saved, after anything the person did.
    void checkScene();

    // Asks for a project file to save to or open; tests answer it.
    std::function<QString(QWidget *parent, const QString &caption, const QString &start, bool saving)> askFile;

    static constexpr int RecentCount = 8;

signals:
    // The title, the mark of changes or the recent list changed.
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool saveTo(const QString &path);
    void journalScene(const SceneSnapshot &scene);
    bool askToSave();   // "Сохранить изменения в проекте «…»?": false on "Отмена" or a failed save
    bool lockFor(const QString &path, bool &readOnly);
    void becomeSaved(const QString &path);
    void remember(const QString &path);
    void loadRecent();
    void storeRecent() const;
    QString startFolder() const;
    slides::SlideBuffer &slides();

    frmMain &m_main;
    AppState &m_state;
    SceneSnapshot m_fresh;        // the scene of a new project
    SceneSnapshot m_savedScene;   // as last saved or opened
    SceneSnapshot m_journaled;    // as last written to the recovery journal
    quint64 m_slideChanges = 0;   // counts the slide buffer's changes
    quint64 m_savedSlideChanges = 0;
    bool m_sceneChanged = false;
    bool m_checkQueued = false;
    QString m_path;
    bool m_readOnly = false;
    ProjectLock m_lock;
    std::shared_ptr<ProjectFile::WrittenState> m_written;   // what the file holds, as this program last wrote or read it
    QStringList m_recent;
};

// A scene that tells apart what matters to a save, cheaply: pictures stand by the identity of their bytes,
// and what a running animation changes on its own is left out.
SceneSnapshot comparable(const SceneSnapshot &scene);

} // namespace project
