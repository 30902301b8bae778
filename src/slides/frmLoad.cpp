#include "slides/frmLoad.h"

#include <QLabel>

#include "controls/Button.h"
#include "controls/Contrast.h"
#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"
#include "slides/SlideFiles.h"

using twips::place;

namespace {

QLabel *colouredLabel(QWidget *parent, const char *name, const QString &text, QColor colour, double l, double t,
                      double w, double h)
{
    auto *lb = place(new QLabel(text, parent), name, l, t, w, h);
    lb->setFont(fonts::msSansSerif(8.25, true));
    lb->setWordWrap(true);
    lb->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Red and blue as drawn on a light window; a shade that stays readable on a dark one.
    controls::keepReadable(lb, QPalette::WindowText, colour);
    return lb;
}

// One pixel-high strip of the etched separator; both strips share the name "Line1".
QWidget *line(QWidget *parent, int index, QColor colour, double top)
{
    QWidget *w = controls::square(parent, "Line1", colour, 45, top, 5400, twips::PerPixel);
    w->setProperty("index", index);
    return w;
}

} // namespace

frmLoad::frmLoad(const QString &folder, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_folder(folder)
{
    setObjectName(QStringLiteral("frmLoad"));
    setWindowTitle(QStringLiteral("  Vellumo"));
    setFixedSize(twips::toPixels(5535), twips::toPixels(1575));
    setFont(fonts::msSansSerif());

    Label1 = colouredLabel(this, "Label1",
                           QStringLiteral("В рабочей папке программы обнаружены старые слайды, для работы с новым "
                                          "проектом необходимо их удалить. "),
                           QColor(255, 0, 0), 180, 90, 5235, 465);
    Label2 = colouredLabel(this, "Label2", QStringLiteral("Подтвердите удаление."), QColor(0, 0, 255), 180, 675, 2220,
                           240);
    Line1[0] = line(this, 0, palette().color(QPalette::WindowText), 990);
    Line1[1] = line(this, 1, palette().color(QPalette::Base), 1000);

    Command1 = place(new controls::Button(QStringLiteral("&Ok"), this), "Command1", 4095, 1170, 1185, 285);
    Command1->setToolTip(QStringLiteral("Убрать старые слайды из папки и сохранить туда новые.\nЗакройте окно, если старые слайды нужны."));
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &frmLoad::Command1_Click);

    controls::centreOnScreen(this);
}

void frmLoad::Command1_Click()
{
    if (beforeDeleting)
        beforeDeleting();
    const bool deleted = slides::discardFilesIn(m_folder);
    controls::doEvents();
    done(deleted ? Deleted : DeleteFailed);
}
