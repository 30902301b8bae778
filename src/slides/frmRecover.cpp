#include "slides/frmRecover.h"

#include <QLabel>

#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/ProgressBar.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"

frmRecover::frmRecover(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmRecover"));
    setWindowTitle(QStringLiteral(" Восстановление слайдов"));
    setFixedSize(twips::toPixels(5415), twips::toPixels(900));
    setFont(fonts::msSansSerif());
    Label1 = twips::place(new QLabel(QStringLiteral("Чтение несохранённых слайдов…"), this), "Label1", 135, 135, 5100,
                          240);
    ProgressBar1 = twips::place(new controls::ProgressBar(this), "ProgressBar1", 135, 480, 5100, 285);
    ProgressBar1->setAccessibleName(QStringLiteral("Чтение несохранённых слайдов"));
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    controls::centreOnScreen(this);
    m_since.start();
}

void frmRecover::report(qint64 done, qint64 total)
{
    if (!isVisible()) {
        if (m_since.elapsed() < 300)
            return;
        show();
    }
    ProgressBar1->setValue(total > 0 ? int(done * 1000 / total) : 0);
    controls::doEvents();
}
