#pragma once
// The export window " Экспорт мультфильма": the format, the rate, the size
// and, through the desktop's save dialog, the file; then a progress bar
// while the job writes it off the user-interface thread, and "Отмена" to
// stop it. The window only shows what the job reports. Before writing, a
// line gives the picture's size in pixels and an estimate of the file's
// size, worked out off the user-interface thread.

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/AppState.h"
#include "export/ExportJob.h"
#include "export/SizeEstimate.h"

class QComboBox;
class QLabel;
class QSpinBox;
class QThread;
namespace controls {
class Button;
class ProgressBar;
}
namespace slides {
class SlideStore;
}

class frmExport : public QDialog {
    Q_OBJECT
public:
    frmExport(AppState &state, const slides::SlideStore &store, QWidget *parent = nullptr);
    ~frmExport() override;

    QLabel *Label1;                     // "Формат:"
    QComboBox *Combo1;                  // the three formats
    QLabel *Label2;                     // "Кадров в секунду:"
    QSpinBox *Spin1;                    // 1 to 24
    QLabel *Label4;                     // "Размер:"
    QComboBox *Combo2;                  // ×1, ×2, ×3
    QLabel *Label5;                     // that a GIF has no sound, shown when the cartoon has any and GIF is chosen
    QLabel *Label3;                     // the output's size before, what the job is doing during
    controls::ProgressBar *ProgressBar1;
    controls::Button *Command1;         // "Экспортировать…"
    controls::Button *Command2;         // "Отмена"

    // Asks for the file to write: caption, suggested path, filter; an empty
    // answer is a change of mind. Tests answer it instead of a person.
    std::function<QString(QWidget *, const QString &, const QString &, const QString &)> askSaveFile;

    exporting::Format format() const;
    int scale() const;
    // Whether an estimate of the file's size is being worked out.
    bool estimating() const { return m_estimator != nullptr; }
    bool running() const { return m_thread != nullptr; }
    // The file the last export wrote or tried to write.
    const QString &lastPath() const { return m_path; }

    void Command1_Click(); // asks for the file and starts
    void Command2_Click(); // stops a running export, or closes the window

    // The close box and Escape are "Отмена".
    void reject() override;

    // Bytes the file is estimated to take; -1 while none is known.
    qint64 estimate() const { return m_estimate; }

signals:
    // An export has ended, written, cancelled or failed, and its message is shown.
    void exportEnded(exporting::Outcome::Status status);
    // A new estimate of the file's size is shown.
    void estimated(qint64 bytes);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QString suggestedPath() const;
    void start(const QString &path);
    void poll();
    void ended();
    void setRunning(bool running);
    void showOutputSize();
    void estimateLater();
    void startEstimate();
    void estimateDone();
    void stopEstimate(bool wait);

    AppState &m_state;
    const slides::SlideStore &m_store;
    QString m_folder; // the folder the last file went to, offered again
    QString m_path;
    QThread *m_thread = nullptr;
    std::unique_ptr<exporting::SharedProgress> m_progress;
    std::unique_ptr<exporting::FrameSource> m_source;
    exporting::Outcome m_outcome;
    QTimer m_poll;

    // The estimate: one worker at a time, on copies of a few slides taken
    // once per opening. A worker whose settings are no longer the window's
    // is stopped and its answer dropped.
    struct Estimation;
    std::shared_ptr<Estimation> m_estimation;
    QThread *m_estimator = nullptr;
    std::shared_ptr<exporting::SizeSample> m_sample;
    QTimer m_estimateDelay;
    qint64 m_estimate = -1;
};
