#include "slides/frmLoad.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "controls/Button.h"
#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"
#include "slides/SlideFiles.h"

namespace {

QLabel *colouredLabel(QWidget *parent, const char *name, const QString &text, QColor colour)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(fonts::msSansSerif(8.25, true));
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    return l;
}

QWidget *line(QWidget *parent, int index, QColor colour, double top)
{
    auto *w = new QWidget(parent);
    w->setObjectName(QStringLiteral("Line1"));
    w->setProperty("index", index);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    twips::setGeometry(w, 45, top, 5400, twips::PerPixel);
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
                           QColor(255, 0, 0));
    twips::setGeometry(Label1, 180, 90, 5235, 465);
    Label2 = colouredLabel(this, "Label2", QStringLiteral("Подтвердите удаление."), QColor(0, 0, 255));
    twips::setGeometry(Label2, 180, 675, 2220, 240);
    Line1[0] = line(this, 0, palette().color(QPalette::WindowText), 990);
    Line1[1] = line(this, 1, palette().color(QPalette::Base), 1000);

    Command1 = new controls::Button(QStringLiteral("&Ok"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    twips::setGeometry(Command1, 4095, 1170, 1185, 285);
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &frmLoad::Command1_Click);

    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmLoad::Command1_Click()
{
    const bool deleted = slides::deleteFilesIn(m_folder);
    controls::doEvents();
    done(deleted ? Deleted : DeleteFailed);
}
