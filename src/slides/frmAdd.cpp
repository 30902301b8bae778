#include "slides/frmAdd.h"

#include <QDir>
#include <QLabel>
#include <QTimer>

#include <mutex>
#include <thread>

#include "controls/Button.h"
#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/ProgressBar.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"

using twips::place;

// Between the reading thread and the window; whichever lets go last frees it.
struct frmAdd::Shared {
    std::atomic<bool> cancel{false};
    std::atomic<int> done{0};
    std::atomic<int> total{0};
    std::atomic<bool> finished{false};
    slides::Series series;   // written by the thread before `finished`
};

frmAdd::frmAdd(const QString &folder, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_shared(std::make_shared<Shared>())
{
    setObjectName(QStringLiteral("frmAdd"));
    setWindowTitle(QStringLiteral(" Добавление слайдов"));
    setFixedSize(twips::toPixels(5415), twips::toPixels(1620));
    setFont(fonts::msSansSerif());

    Label1 = place(new QLabel(QStringLiteral("Чтение слайдов из папки «%1»…").arg(QDir::toNativeSeparators(folder)), this),
                   "Label1", 135, 135, 5100, 240);
    ProgressBar1 = place(new controls::ProgressBar(this), "ProgressBar1", 135, 480, 5100, 285);
    ProgressBar1->setToolTip(QStringLiteral("Сколько слайдов из папки уже прочитано."));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    Command1 = controls::button(this, "Command1", QStringLiteral("Отмена"), 3780, 960, 1455, 420);
    Command1->setToolTip(QStringLiteral("Прекратить чтение; слайды из этой папки не добавятся."));
    Command1->setFont(fonts::msSansSerif(8.25, true));
    Command1->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &frmAdd::Command1_Click);

    // Detached: ending the program never waits for a folder that reads slowly.
    std::thread([shared = m_shared, folder] {
        slides::Series series = slides::readSeries(folder, shared->cancel, [&shared](int done, int total) {
            shared->total.store(total, std::memory_order_relaxed);
            shared->done.store(done, std::memory_order_relaxed);
        });
        shared->series = std::move(series);
        shared->finished.store(true, std::memory_order_release);
    }).detach();

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &frmAdd::poll);
    timer->start(40);
}

frmAdd::~frmAdd()
{
    m_shared->cancel = true;
}

void frmAdd::poll()
{
    if (const int total = m_shared->total.load(std::memory_order_relaxed); total > 0) {
        ProgressBar1->setMaximum(total);
        ProgressBar1->setValue(m_shared->done.load(std::memory_order_relaxed));
    }
    if (m_shared->finished.load(std::memory_order_acquire) && !m_shared->cancel)
        accept();
}

bool frmAdd::finishedWithin(int ms)
{
    return controls::waitWithoutInput([this] { return m_shared->finished.load(std::memory_order_acquire); }, ms);
}

slides::Series frmAdd::takeSeries()
{
    if (!m_shared->finished.load(std::memory_order_acquire))
        return {};
    return std::move(m_shared->series);
}

void frmAdd::Command1_Click() { reject(); }

void frmAdd::reject()
{
    // The thread sees it between two files and stops; what it read is dropped with it.
    m_shared->cancel = true;
    QDialog::reject();
}
