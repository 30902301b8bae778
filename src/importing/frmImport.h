#pragma once
// The window that asks what each imported thing becomes. It shows the
// candidates one after another: a preview with the frames playing (decoded
// on a thread of its own, "Загрузка…" meanwhile), the kind with the guess
// preselected, the rate of a series or a sprite sheet, the grid of a sheet,
// and, for a picture much larger than the stage, that it will be made
// smaller with a box to keep its size. "Добавить" (also Enter) writes the
// candidate into the library and goes on with the next; "Пропустить" goes on
// without it; "Отмена" ends the import, keeping what was already added.

#include <QDialog>
#include <QList>
#include <QImage>
#include <QTimer>

#include <atomic>
#include <memory>

#include "controls/Messages.h"
#include "importing/Import.h"

class QCheckBox;
class QLabel;
class QMimeData;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace importing {

// One asset written into the library.
struct Imported {
    QString path;
    Kind kind = Kind::Prop;
};

class frmImport : public QDialog {
    Q_OBJECT
public:
    frmImport(const QList<Candidate> &candidates, const QString &libraryFolder, controls::MessageFn message,
              QWidget *parent = nullptr);
    ~frmImport() override;

    QLabel *lblName;             // which candidate, and which of how many
    QLabel *Preview;             // the frames playing, or "Загрузка…"
    QLabel *lblFrames;           // how many frames the preview has
    QRadioButton *optCharacter;  // "персонаж"
    QRadioButton *optProp;       // "предмет"
    QRadioButton *optBackground; // "фон"
    QLabel *lblRate;
    QSpinBox *spnRate;           // frames per second of a series or a sheet, 1–24
    QLabel *lblGrid;
    QWidget *fraGrid;            // the grid's two boxes
    QSpinBox *spnColumns;        // a sprite sheet's grid
    QSpinBox *spnRows;
    QLabel *lblScaled;           // "it will be made smaller"
    QCheckBox *chkKeepSize;      // keep the original size instead
    QPushButton *cmdAdd;         // "Добавить"
    QPushButton *cmdSkip;        // "Пропустить", while more than one is left
    QPushButton *cmdCancel;      // "Отмена"

    int current() const { return m_index; }
    Options options() const;                       // as the controls say for the shown candidate
    const QList<Imported> &imported() const { return m_imported; }
    bool previewReady() const { return m_previewReady; }
    int previewFrames() const { return int(m_frames.size()); }

    // How long the preview and the writing of one candidate may take before they are given up.
    static constexpr int PreviewTimeoutMs = 5000;
    static constexpr int WriteTimeoutMs = 120000;

signals:
    void previewShown();         // a preview (or its failure) is on show

protected:
    void reject() override;

private:
    void showCandidate(int index);
    void updateControls();       // what is visible for the kind and grid chosen
    void requestPreview();       // after a change, once the person pauses
    void startPreview();
    void receivePreview(int generation, const Frames &frames);
    void previewTimedOut(int generation);
    void nextFrame();
    void addCurrent();
    void next();

    QList<Candidate> m_candidates;
    QString m_library;
    controls::MessageFn m_message;
    QList<Imported> m_imported;
    int m_index = -1;
    int m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;   // of the preview being decoded
    QTimer m_settle;             // lets spin-box changes settle before decoding again
    QTimer m_deadline;
    QTimer m_play;
    QList<QImage> m_frames;      // as shown: on the checks, fitted to the preview
    QList<int> m_delays;
    int m_frame = 0;
    bool m_previewReady = false;
    bool m_writing = false;
};

// The whole import of `paths`: sorted into candidates, those that cannot be imported reported in one
// message naming each file and the reason, the others asked about in the window. Returns what was written.
QList<Imported> importFiles(QWidget *parent, const QStringList &paths, const QString &libraryFolder,
                            const controls::MessageFn &message);

// The local files and folders a drag from a file manager carries; empty when it carries anything else.
QStringList droppedPaths(const QMimeData *data);

} // namespace importing
