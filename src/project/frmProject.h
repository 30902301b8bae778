#pragma once
// The progress window of saving or opening a project: " Сохранение проекта"
// or " Открытие проекта", a line naming the file, a bar, and "Отмена" while
// opening. The work runs on a thread of its own, so that the program keeps
// painting; a small project is done before the window could be seen, and it
// shows only once the work has taken a moment. While it runs, the person's
// input waits, so that nothing changes the scene or the slides under it.

#include <QDialog>

#include <functional>
#include <memory>

#include "project/ProjectFile.h"

class QLabel;
namespace controls {
class Button;
class ProgressBar;
}

class frmProject : public QDialog {
    Q_OBJECT
public:
    enum class Kind { Save, Open };
    // What the thread runs: it reports (done, total) as it goes, and returns what came of it.
    using Work = std::function<project::ProjectResult(const project::ProjectFile::Progress &progress)>;

    frmProject(Kind kind, const QString &path, QWidget *parent = nullptr);
    ~frmProject() override;

    // Runs `work` and waits for it, showing the window if it takes longer than a moment. False when
    // the person cancelled an opening: its result is dropped, and `result` is left alone.
    bool run(Work work, project::ProjectResult &result);

    QLabel *Label1;                     // "Запись проекта «…»…" or "Чтение проекта «…»…"
    controls::ProgressBar *ProgressBar1;
    controls::Button *Command1;         // "Отмена", while opening only

    struct Shared;

protected:
    void reject() override;

private:
    void poll();
    Kind m_kind;
    std::shared_ptr<Shared> m_shared;
};
