// Bringing the person's own pictures into the asset library: "Добавить в библиотеку…" (Ctrl+I) and files
// dropped on the stage from a file manager.
//
// The dialog takes files, several at once; numbered pictures chosen together ("walk_01.png",
// "walk_02.png", …) become one character. A whole folder of numbered pictures is brought in by dropping
// the folder on the stage or on the picker, as the standard open dialog cannot return files and folders
// at once.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include "app/frmMain.h"
#include "controls/Twips.h"
#include "importing/frmImport.h"
#include "picker/Placing.h"

namespace {

using importing::droppedPaths;

// Takes drops on the stage for the main window.
class StageDrops : public QObject {
public:
    StageDrops(frmMain *main, QWidget *stage) : QObject(stage), m_main(main)
    {
        stage->setAcceptDrops(true);
        stage->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (droppedPaths(drag->mimeData()).isEmpty())
                return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QStringList paths = droppedPaths(drop->mimeData());
            if (paths.isEmpty())
                return false;
            drop->acceptProposedAction();
            // The file manager waits for the drop to end: the questions come after it has.
            const QPoint at = drop->position().toPoint();
            QTimer::singleShot(0, m_main, [main = m_main, paths, at] { main->importDropped(paths, at); });
            return true;
        }
        default:
            return false;
        }
    }

private:
    frmMain *m_main;
};

const char *modeFor(importing::Kind kind)
{
    switch (kind) {
    case importing::Kind::Character:
        return "person";
    case importing::Kind::Background:
        return "fon";
    case importing::Kind::Prop:
        break;
    }
    return "articles";
}

} // namespace

void frmMain::buildImport()
{
    askImportFiles = [](QWidget *parent, const QString &start) {
        QFileDialog dialog(parent, QStringLiteral("Добавить в библиотеку"), start,
                           QStringLiteral("Картинки (*.gif *.png *.jpg *.jpeg *.bmp *.webp);;Все файлы (*)"));
        dialog.setObjectName(QStringLiteral("ImportFiles"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    };
    new StageDrops(this, Picture7);
}

QString frmMain::libraryFolder() const
{
    return m_state.userAssets.isEmpty() ? m_state.programFolder : m_state.userAssets;
}

void frmMain::importAssets()
{
    QString start = m_importFolder;
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QStringList paths = askImportFiles(this, start);
    if (paths.isEmpty())
        return;
    m_importFolder = QFileInfo(paths.first()).path();
    importPaths(paths);
}

QList<importing::Imported> frmMain::importPaths(const QStringList &paths, QWidget *over)
{
    return importing::importFiles(over ? over : this, paths, libraryFolder(), m_state.message);
}

void frmMain::importDropped(const QStringList &paths, QPoint at)
{
    const QList<importing::Imported> imported = importPaths(paths);
    // Where the drop was, on the scene the objects stand in, in twips.
    const QPoint onScene = Picture3->client()->mapFrom(Picture7, at);
    const double x = twips::fromPixels(onScene.x()), y = twips::fromPixels(onScene.y());
    for (const importing::Imported &asset : imported) {
        // As the picker's buttons do: the start-up animation goes once the scene is being composed.
        AniGIF2->setPlaying(false);
        AniGIF2->setVisible(false);
        m_state.PickerMode = QLatin1String(modeFor(asset.kind));
        const QFileInfo file(asset.path);
        QWidget *placed = nullptr;
        switch (picker::placeAsset(*this, m_state.PickerMode, file.path(), file.fileName())) {
        case picker::Placed::Character:
            placed = AniGIF1.at(m_state.CharacterCount);
            break;
        case picker::Placed::Prop:
            placed = Image1.at(m_state.PropCount);
            break;
        default:
            break;
        }
        if (placed)
            twips::move(placed, x - twips::width(placed) / 2, y - twips::height(placed) / 2);
    }
}
