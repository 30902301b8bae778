#include "picker/frmFon.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QStandardPaths>
#include <QTimer>
#include <QFileInfo>
#include <QHash>
#include <QHideEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QShowEvent>
#include <QWheelEvent>

#include "app/frmMain.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"
#include "controls/WindowFrame.h"
#include "importing/frmImport.h"
#include "picker/AssetLibrary.h"
#include "picker/PickerGrid.h"
#include "picker/Placing.h"

namespace {

namespace grid = picker::grid;

// Client area in twips: 512 x 390 pixels.
constexpr int ClientWidthTwips = 7680;
constexpr int ClientHeightTwips = 5850;

// Time the window lends to making cells before it answers its events again.
constexpr int SliceBudgetMs = 8;

// The marker: a red frame three pixels wide that lets presses through to the cell under it.
class Marker : public QWidget {
public:
    explicit Marker(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QColor red(255, 0, 0);
        const QRect r = rect();
        p.fillRect(QRect(r.left(), r.top(), r.width(), 3), red);
        p.fillRect(QRect(r.left(), r.bottom() - 2, r.width(), 3), red);
        p.fillRect(QRect(r.left(), r.top(), 3, r.height()), red);
        p.fillRect(QRect(r.right() - 2, r.top(), 3, r.height()), red);
    }
};

controls::PictureBox *blackBox(QWidget *parent, const char *name)
{
    auto *box = new controls::PictureBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setBackColor(Qt::black);
    return box;
}

} // namespace

frmFon::frmFon(frmMain *main) : QDialog(main), m_main(main), m_loader(new picker::ThumbnailLoader(this))
{
    setObjectName(QStringLiteral("frmFon"));
    // A fixed frame with no caption bar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    // No caption text; an empty title would be replaced by the program's name on X11.
    setWindowTitle(QStringLiteral(" "));
    setModal(true);
    setFixedSize(twips::toPixels(ClientWidthTwips), twips::toPixels(ClientHeightTwips));
    setFont(fonts::msSansSerif());
    controls::setBorderOnlyFrame(this);

    File1 = new QListWidget(this);
    File1->setObjectName(QStringLiteral("File1"));
    twips::setGeometry(File1, 6210, 3420, 1005, 480);
    File1->hide();

    Command1 = new controls::Button(QStringLiteral("&Закрыть"), this);
    Command1->setToolTip(QStringLiteral("Закрыть окно, ничего не выбирая."));
    Command1->setObjectName(QStringLiteral("Command1"));
    twips::setGeometry(Command1, 6210, 5310, 1320, 330);
    Command1->setAutoDefault(false);

    Command2 = new controls::Button(QStringLiteral("&Выбрать"), this);
    Command2->setToolTip(QStringLiteral("Поставить отмеченную картинку на сцену."));
    Command2->setObjectName(QStringLiteral("Command2"));
    twips::setGeometry(Command2, 6210, 4905, 1320, 330);
    Command2->setAutoDefault(false);

    Command3 = controls::panel(this, "Command3", QStringLiteral("Command3"), 90, 45, 5910, 5730);

    VScroll1 = new QScrollBar(Qt::Vertical, this);
    VScroll1->setToolTip(QStringLiteral("Прокрутить картинки."));
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    twips::setGeometry(VScroll1, 5715, 90, 195, 5640);
    VScroll1->setRange(0, 0);
    VScroll1->setSingleStep(100);
    VScroll1->setPageStep(5000);
    // The dialog hands the wheel over the sheet to the bar; one the bar
    // cannot use must not come back to the dialog.
    VScroll1->setAttribute(Qt::WA_NoMousePropagation);
    VScroll1->setAccessibleName(QStringLiteral("Прокрутка файлов"));

    Picture1 = blackBox(this, "Picture1");
    Picture1->setToolTip(QStringLiteral("Щёлкните картинку, чтобы отметить её, и нажмите «Выбрать»;\nдвойной щелчок ставит её на сцену сразу."));
    twips::setGeometry(Picture1, 135, 90, 5595, 5640);
    // The grid takes the keyboard: a click on a cell focuses it too, as the
    // cells themselves take no focus.
    Picture1->setFocusPolicy(Qt::StrongFocus);
    Picture1->setAccessibleName(QStringLiteral("Файлы"));

    Picture2 = blackBox(Picture1->client(), "Picture2");
    twips::setGeometry(Picture2, 0, 0, grid::SheetWidth, grid::SheetHeight);

    auto *cell0 = new controls::ImageControl(Picture2->client());
    twips::setGeometry(cell0, grid::FirstLeft, grid::FirstTop, grid::CellWidth, grid::CellHeight);
    cell0->setStretch(true);
    Image1.reset(QStringLiteral("Image1"), cell0);
    connectCell(0);

    Shape1 = new Marker(Picture2->client());
    Shape1->setObjectName(QStringLiteral("Shape1"));
    twips::setGeometry(Shape1, 165, 165, 1660, 1310);
    Shape1->hide();

    // Tab order: the grid, then close, choose and the bar.
    setTabOrder(Picture1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, VScroll1);

    connect(Command1, &QPushButton::clicked, this, &frmFon::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmFon::Command2_Click);
    // valueChanged covers both the finished moves and the drag, so the sheet follows the thumb.
    connect(VScroll1, &QScrollBar::valueChanged, this, &frmFon::VScroll1_Change);

    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, &frmFon::buildSlice);
    connect(m_loader, &picker::ThumbnailLoader::delivered, this, &frmFon::receive);
    connect(m_loader, &picker::ThumbnailLoader::allDelivered, this, &frmFon::checkComplete);
    // Pictures dragged from a file manager are brought into the library.
    setAcceptDrops(true);
}

frmFon::~frmFon()
{
    m_slice.stop();
    m_loader->cancel();
}

QSize frmFon::thumbnailSize() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(twips::toPixels(grid::CellWidth) * ratio), qRound(twips::toPixels(grid::CellHeight) * ratio));
}

int frmFon::fileCount() const { return File1->count(); }

QString frmFon::fileName(int index) const
{
    const QListWidgetItem *item = File1->item(index);
    return item ? item->text() : QString();
}

bool frmFon::gridComplete() const
{
    return !m_slice.isActive() && m_nextCell >= fileCount() && m_shown >= fileCount() && m_surplus.isEmpty();
}

void frmFon::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Form_Activate();
}

void frmFon::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;
    // Cells left visible would all be shown again with the window at its next
    // opening, before the grid is rebuilt: with thousands of them that alone
    // stalled the window for seconds. Hidden now, while the window is, they
    // cost nothing and come back one by one as the grid is rebuilt.
    for (int index : Image1.indices())
        if (index != 0)
            Image1.at(index)->hide();
}

void frmFon::Form_Activate()
{
    m_slice.stop();
    m_loader->cancel();

    VScroll1->setRange(0, 0);
    VScroll1->setValue(0);
    twips::setGeometry(Picture2, 0, 0, grid::SheetWidth, grid::SheetHeight);

    // The shipped library's files, then the user's own ones of the same kind.
    const AppState &state = m_main->state();
    const QString relative = picker::folderForMode(state.PickerMode);
    const QString pattern = picker::patternForMode(state.PickerMode);
    QStringList names;
    m_folders.clear();
    if (!relative.isEmpty()) {
        QStringList roots{state.path(relative)};
        if (!state.userAssets.isEmpty())
            roots << state.userAssets + QLatin1Char('/') + relative;
        for (const QString &root : roots) {
            const QStringList listed = picker::listAssets(root, pattern);
            names += listed;
            for (qsizetype i = 0; i < listed.size(); ++i)
                m_folders << root;
        }
    }
    // The user's files go to the thumbnail loader as whole paths, the shipped
    // ones by name, so that each kind keeps its cache as before.
    QStringList toLoad = names;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (m_folders.at(i) != m_folders.constFirst())
            toLoad[i] = m_folders.at(i) + QLatin1Char('/') + names.at(i);

    // Nothing of an earlier opening may show. Cells beyond the new listing go,
    // a slice at a time like the making of cells, since destroying thousands
    // at once holds up the window; the others are emptied and serve again, as
    // a cell's place depends on its index only and making a thousand widgets
    // anew would dominate a reopening.
    m_surplus.clear();
    for (int index : Image1.indices()) {
        if (index != 0 && index >= names.size()) {
            m_surplus.append(index);
        } else {
            controls::ImageControl *cell = Image1.at(index);
            cell->setPicture(QImage());
            cell->setPlaceholder(QString());
        }
    }
    controls::ImageControl *cell0 = Image1.at(0);
    // A choice never outlives the opening it was made in.
    ThumbIndex = -1;
    Shape1->hide();
    Picture1->setAccessibleDescription(QString());
    Picture1->setFocus(Qt::OtherFocusReason);
    // The caption stays a blank; a screen reader says what is being chosen.
    static const QHash<QString, QString> spokenNames{
        {QStringLiteral("fon"), QStringLiteral("Выбор фона")},
        {QStringLiteral("person"), QStringLiteral("Выбор персонажа")},
        {QStringLiteral("changePerson"), QStringLiteral("Выбор действия")},
        {QStringLiteral("articles"), QStringLiteral("Выбор предмета")},
    };
    setAccessibleName(spokenNames.value(state.PickerMode, QStringLiteral("Выбор файла")));

    File1->clear();
    File1->addItems(names);

    m_thumbs = QList<QImage>(names.size());
    m_arrived = QBitArray(names.size());
    m_shown = 0;
    m_completeSignalled = false;
    m_nextCell = names.isEmpty() ? 0 : 1;
    // An empty folder shows an empty sheet: no cell to press.
    cell0->setVisible(!names.isEmpty());
    nameCell(0);
    m_loader->start(m_folders.isEmpty() ? QString() : m_folders.constFirst(), toLoad, thumbnailSize());
    if (m_nextCell < names.size() || !m_surplus.isEmpty())
        m_slice.start();
    else
        checkComplete();
}

void frmFon::buildSlice()
{
    QElapsedTimer spent;
    spent.start();
    const int count = fileCount();
    while (!m_surplus.isEmpty() && spent.elapsed() < SliceBudgetMs)
        Image1.destroy(m_surplus.takeFirst());
    while (m_nextCell < count && spent.elapsed() < SliceBudgetMs)
        addCell(m_nextCell++);
    growSheet(m_nextCell);
    if (m_nextCell >= count && m_surplus.isEmpty()) {
        m_slice.stop();
        checkComplete();
    }
}

void frmFon::addCell(int index)
{
    controls::ImageControl *cell = Image1.at(index);
    if (!cell) {
        cell = Image1.create(index);
        if (!cell)
            return;
        connectCell(index);
    }
    twips::move(cell, grid::cellLeft(index), grid::cellTop(index));
    nameCell(index);
    if (m_arrived.testBit(index))
        showThumbnail(index);
    // The building goes on after the window was closed; cells made then stay
    // hidden with it rather than all be shown at once at the next opening.
    if (isVisible())
        cell->show();
    if (Shape1->isVisible())
        Shape1->raise();
}

void frmFon::nameCell(int index)
{
    // Near-identical first frames are told apart by name.
    controls::ImageControl *cell = Image1.at(index);
    const QString name = QFileInfo(fileName(index)).completeBaseName();
    cell->setToolTip(name);
    cell->setAccessibleName(name);
}

void frmFon::growSheet(int cells)
{
    // The sheet grows by one row whenever a cell would end below it. This
    // runs once per slice, not per row: every change of the bar repaints the
    // raised panel behind it, which on a folder of thousands cost more than
    // making the cells.
    if (grid::sheetHeight(cells) > twips::height(Picture2)) {
        twips::resize(Picture2, grid::SheetWidth, grid::sheetHeight(cells));
        VScroll1->setMaximum(grid::scrollTravel(cells));
    }
}

void frmFon::connectCell(int index)
{
    controls::ImageControl *cell = Image1.at(index);
    connect(cell, &controls::ImageControl::MouseDown, this,
            [this, index](Qt::MouseButton, Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {
                Image1_MouseDown(index);
            });
    // The right button marks the cell, as any button does, and then offers its menu.
    cell->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(cell, &QWidget::customContextMenuRequested, this,
            [this, index, cell](const QPoint &at) { showCellMenu(index, cell->mapToGlobal(at)); });
    connect(cell, &controls::ImageControl::DblClick, this, [this, index] { Image1_DblClick(index); });
}

void frmFon::receive(const QList<picker::Thumbnail> &batch)
{
    for (const picker::Thumbnail &t : batch) {
        if (t.index < 0 || t.index >= m_thumbs.size())
            continue;
        m_thumbs[t.index] = t.image;
        m_arrived.setBit(t.index);
        // A cell not yet placed in this opening (maybe one left from the last) takes it when placed.
        if (t.index < m_nextCell)
            showThumbnail(t.index);
    }
    emit thumbnailsShownChanged(m_shown);
    checkComplete();
}

void frmFon::showThumbnail(int index)
{
    controls::ImageControl *cell = Image1.at(index);
    const QImage &image = m_thumbs.at(index);
    cell->setPicture(image);
    // A file the loader refuses still gets its cell, and the cell says which file it is.
    cell->setPlaceholder(image.isNull() ? fileName(index) : QString());
    ++m_shown;
}

void frmFon::checkComplete()
{
    if (m_completeSignalled || !gridComplete())
        return;
    m_completeSignalled = true;
    emit gridCompleted();
}

void frmFon::Image1_MouseDown(int index)
{
    controls::ImageControl *cell = Image1.at(index);
    if (!cell)
        return;
    ThumbIndex = index;
    twips::move(Shape1, twips::left(cell), twips::top(cell));
    Shape1->show();
    Shape1->raise();
    Picture1->setAccessibleDescription(cell->accessibleName());
}

int frmFon::keyTarget(int key) const
{
    // Only cells made so far can be marked; the rest follow as the grid grows.
    const int last = std::min(fileCount(), m_nextCell) - 1;
    if (last < 0)
        return -1;
    const int rowsPerPage = std::max(1, int(twips::height(Picture1) / grid::RowPitch));
    const int at = ThumbIndex;
    int to = at;
    switch (key) {
    case Qt::Key_Left: to = at - 1; break;
    case Qt::Key_Right: to = at + 1; break;
    case Qt::Key_Up: to = at - grid::Columns; break;
    case Qt::Key_Down: to = at + grid::Columns; break;
    case Qt::Key_PageUp: to = at - grid::Columns * rowsPerPage; break;
    case Qt::Key_PageDown: to = at + grid::Columns * rowsPerPage; break;
    case Qt::Key_Home: return 0;
    case Qt::Key_End: return last;
    default: return -1;
    }
    // The first key after opening marks the first cell; a move past either
    // end of a column stays in the grid, a page past the end stops at the end.
    if (at < 0)
        return 0;
    if (key == Qt::Key_Up || key == Qt::Key_Down)
        return (to < 0 || to > last) ? at : to;
    return std::clamp(to, 0, last);
}

void frmFon::scrollToCell(int index)
{
    // The mark reaches a few twips beyond its cell; the sheet's margin above the first row covers it.
    const int top = grid::cellTop(index) - grid::FirstTop;
    const int bottom = grid::cellTop(index) + grid::CellHeight + grid::FirstTop;
    const int view = int(twips::height(Picture1));
    if (top < VScroll1->value())
        VScroll1->setValue(top);
    else if (bottom > VScroll1->value() + view)
        VScroll1->setValue(bottom - view);
}

void frmFon::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && focusWidget() == Picture1) {
        Command2_Click();
        return;
    }
    // The menu key (or Shift+F10) offers the marked cell's menu.
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        if (controls::ImageControl *cell = ThumbIndex >= 0 ? Image1.at(ThumbIndex) : nullptr)
            showCellMenu(ThumbIndex, cell->mapToGlobal(cell->rect().center()));
        return;
    }
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    const int target = keyTarget(key);
    if (target < 0) {
        QDialog::keyPressEvent(event);
        return;
    }
    Image1_MouseDown(target);
    scrollToCell(target);
}

void frmFon::wheelEvent(QWheelEvent *event)
{
    // The wheel anywhere over the sheet turns the bar, as it would over the bar itself.
    QCoreApplication::sendEvent(VScroll1, event);
}

void frmFon::Image1_DblClick(int)
{
    Command2_Click();
}

void frmFon::Command2_Click()
{
    if (ThumbIndex < 0 || ThumbIndex >= fileCount())
        return;
    picker::placeAsset(*m_main, m_main->state().PickerMode, m_folders.at(ThumbIndex), fileName(ThumbIndex));
    Shape1->hide();
    hide();
}

void frmFon::Command1_Click()
{
    Shape1->hide();
    hide();
}

void frmFon::reject()
{
    // Escape and the window's close behave as "&Закрыть".
    Command1_Click();
}

void frmFon::VScroll1_Change(int value)
{
    twips::move(Picture2, 0, -value);
}

void frmFon::showCellMenu(int index, const QPoint &at)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("mnuCell"));
    QAction *remove = menu.addAction(QStringLiteral("Удалить из библиотеки"));
    remove->setObjectName(QStringLiteral("mnuRemoveAsset"));
    // The program's own pictures stay; the item says it cannot be used on them rather than vanish.
    remove->setEnabled(isUsersOwn(index));
    if (menu.exec(at) == remove)
        removeFromLibrary(index);
}

bool frmFon::isUsersOwn(int index) const
{
    if (index < 0 || index >= fileCount())
        return false;
    const AppState &state = m_main->state();
    // Installed, the shipped library lies under the installation prefix and only the user's folders are
    // theirs. A portable copy lies in a folder the person owns, and nothing there tells the pictures it
    // came with from those added since: each may go, to the trash, from where it can be brought back.
    return state.userAssets.isEmpty() || m_folders.at(index).startsWith(state.userAssets + QLatin1Char('/'));
}

bool frmFon::removeFromLibrary(int index)
{
    if (!isUsersOwn(index))
        return false;
    const QString name = QFileInfo(fileName(index)).completeBaseName();
    const QString path = QDir(m_folders.at(index)).filePath(fileName(index));
    const controls::MessageFn &message = m_main->state().message;
    if (message(this, {QStringLiteral("Удалить «%1» из библиотеки?").arg(name), QStringLiteral("Удаление из библиотеки"),
                       controls::MsgIcon::Question, controls::MsgButtons::YesNo}) != controls::MsgResult::Yes)
        return false;
    // Qt makes the user's trash only inside an existing data folder, which a new account may lack.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    // A link is only removed: the trash must never take what it points at. Where there is no trash the
    // file is deleted, as the person asked. A scene using it keeps the picture it read.
    const bool gone = (!QFileInfo(path).isSymLink() && QFile::moveToTrash(path)) || QFile::remove(path);
    if (!gone) {
        message(this, {QStringLiteral("Не удалось удалить «%1» из папки\n%2.")
                           .arg(name, QDir::toNativeSeparators(m_folders.at(index))),
                       QStringLiteral("Удаление из библиотеки"), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    Form_Activate();
    return true;
}

void frmFon::dragEnterEvent(QDragEnterEvent *event)
{
    if (!importing::droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmFon::dragMoveEvent(QDragMoveEvent *event)
{
    if (!importing::droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmFon::dropEvent(QDropEvent *event)
{
    const QStringList paths = importing::droppedPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // The file manager waits for the drop to end: the questions come after it has.
    QTimer::singleShot(0, this, [this, paths] { importDropped(paths); });
}

void frmFon::importDropped(const QStringList &paths)
{
    if (!m_main->importPaths(paths, this).isEmpty() && isVisible())
        Form_Activate();
}
