#include "slides/frmBar.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <cerrno>

#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/SystemError.h"
#include "controls/Twips.h"
#include "controls/WindowFrame.h"
#include "slides/SlideFiles.h"

frmBar::frmBar(AppState &state, const slides::SlideStore &slides, QWidget *parent)
    // No caption, no icon and no close box: the only way out is the end of the loop.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      m_state(state), m_slides(slides)
{
    setObjectName(QStringLiteral("frmBar"));
    // An empty title would be replaced by the program's name on X11.
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(twips::toPixels(5355), twips::toPixels(1350));
    setFont(fonts::msSansSerif());
    controls::setBorderOnlyFrame(this);

    Label1 = twips::place(new QLabel(QStringLiteral("Идет сохранение слайдов. Ждите..."), this), "Label1", 135, 180,
                          3525, 285);
    Label1->setFont(fonts::msSansSerif(8.25, true));

    ProgressBar1 = twips::place(new controls::ProgressBar(this), "ProgressBar1", 135, 810, 5100, 285);
    ProgressBar1->setToolTip(QStringLiteral("Сколько слайдов уже записано в папку."));
    ProgressBar1->setAccessibleName(QStringLiteral("Сохранение слайдов"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
}

void frmBar::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Once the window is up, so that it is painted before the first file.
    QTimer::singleShot(0, this, &frmBar::Form_Activate);
}

void frmBar::Form_Activate()
{
    if (m_running || !isVisible())
        return;
    m_running = true;
    m_total = m_slides.count();
    m_written = 0;
    ProgressBar1->setMaximum(m_total + 1);
    controls::doEvents();
    // A file that fails is counted out and the next one tried, so that the report can say how many made it.
    // Events run after a file whenever a few milliseconds have passed: the
    // window stays as lively as after every file, and a folder of many small
    // files is not slowed down by handling events hundreds of times a second.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    m_written = slides::writeSlideFiles(
        m_state.AnimationsFolder, m_slides,
        [this, &sinceEvents](int i) {
            if (sinceEvents.elapsed() >= 5) {
                controls::doEvents();
                sinceEvents.restart();
            }
            ProgressBar1->setValue(i);
        },
        &m_error);
    ProgressBar1->setValue(0);
    hide();
    controls::doEvents();
    m_running = false;
    // The first line as it always was; the second says where the files are (and why, when some are not).
    const QString folder = QDir::toNativeSeparators(QDir::cleanPath(m_state.AnimationsFolder));
    if (allWritten()) {
        m_state.message(this, {QStringLiteral("Все слайды сохранены\nПапка: %1").arg(folder), QString(),
                               controls::MsgIcon::Information, controls::MsgButtons::Ok});
    } else {
        m_state.message(this, {QStringLiteral("Не удалось сохранить все слайды: сохранено %1 из %2.\n%3: %4.")
                                   .arg(m_written)
                                   .arg(m_total)
                                   .arg(folder, controls::systemReason(m_error ? m_error : EIO)),
                               QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
    }
}
