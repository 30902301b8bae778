#pragma once
// The asset picker: one asset folder as a grid of thumbnails, three to a
// row, on a black sheet that scrolls inside a fixed frame. Pressing a cell
// marks it; "&Выбрать" or a double-click places the marked file on the
// stage, "&Закрыть" closes. From the keyboard the arrows move the mark,
// Page Up/Down and Home/End move it a page or to either end, Enter places
// the marked file and Escape closes; the sheet follows the mark and the wheel. The grid is rebuilt at every opening: the cells
// are made a few at a time between window events and their thumbnails come
// from worker threads, so the window answers at once even for a large folder.

#include <QBitArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include "controls/Button.h"
#include "controls/ControlArray.h"
#include "controls/ImageControl.h"
#include "controls/PictureBox.h"
#include "picker/ThumbnailLoader.h"

class QListWidget;
class QScrollBar;
class frmMain;

class frmFon : public QDialog {
    Q_OBJECT
public:
    explicit frmFon(frmMain *main);
    ~frmFon() override;

    controls::Button *Command3;        // raised panel behind the viewport and the bar
    controls::PictureBox *Picture1;    // black viewport that clips the sheet
    controls::PictureBox *Picture2;    // black sheet carrying the cells; moved by the bar
    controls::ControlArray<controls::ImageControl> Image1;  // thumbnail cells; element 0 is the template
    QWidget *Shape1;                   // red frame around the pressed cell
    // The bar's value is how far the sheet is lifted, in twips: 0 at the top,
    // down to the sheet's extra height at the bottom.
    QScrollBar *VScroll1;
    controls::Button *Command2;        // "&Выбрать"
    controls::Button *Command1;        // "&Закрыть"
    QListWidget *File1;                // hidden list of the folder's file names; cell k shows entry k

    // Index of the pressed cell; -1 when nothing has been pressed since the window opened.
    int ThumbIndex = -1;

    void Form_Activate();              // rebuilds the grid
    void Image1_MouseDown(int index);
    void Image1_DblClick(int index);
    void Command2_Click();             // "&Выбрать"
    void Command1_Click();             // "&Закрыть"
    void VScroll1_Change(int value);

    int fileCount() const;
    QString fileName(int index) const;
    // True once every cell of this opening exists and shows its thumbnail or placeholder.
    bool gridComplete() const;
    const picker::ThumbnailLoader &loader() const { return *m_loader; }

    // Whether the file of cell `index` is the person's own, which "Удалить из библиотеки" may remove.
    bool isUsersOwn(int index) const;
    // Asks, then moves the file of cell `index` to the desktop's trash and lists the folder again.
    bool removeFromLibrary(int index);
    // Files dropped from a file manager: imported into the library and listed at once.
    void importDropped(const QStringList &paths);

    // Cell size on screen, in device pixels: the size thumbnails are read at.
    QSize thumbnailSize() const;

signals:
    void thumbnailsShownChanged(int shown);
    void gridCompleted();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void reject() override;

private:
    void buildSlice();
    void addCell(int index);
    void nameCell(int index);
    void growSheet(int cells);
    void connectCell(int index);
    void showThumbnail(int index);
    void receive(const QList<picker::Thumbnail> &batch);
    void checkComplete();
    void showCellMenu(int index, const QPoint &at);   // a cell's menu, at a place on the screen
    int keyTarget(int key) const;      // the cell a navigation key marks; -1 when it marks none
    void scrollToCell(int index);

    frmMain *m_main;
    picker::ThumbnailLoader *m_loader;
    QTimer m_slice;                    // makes the next few cells between window events
    QStringList m_folders;            // the folder of each listed file: the shipped library's, then the user's
    int m_nextCell = 0;
    QList<int> m_surplus;              // cells of an earlier opening beyond this listing, still to be destroyed
    QList<QImage> m_thumbs;            // by file index, as delivered
    QBitArray m_arrived;
    int m_shown = 0;
    bool m_completeSignalled = false;
};
