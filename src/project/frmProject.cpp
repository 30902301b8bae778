#include "project/frmProject.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <atomic>
#include <thread>

#include "controls/Button.h"
#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/ProgressBar.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"

using twips::place;

// Between the working thread and the window; whichever lets go last frees it.
struct frmProject::Shared {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> cancelled{false};
    project::ProjectResult result;   // written by the thread before `finished`
};

namespace {
// How long the work may take before its window shows.
constexpr int QuietMs = 300;
}

frmProject::frmProject(Kind kind, const QString &path, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_kind(kind), m_shared(std::make_shared<Shared>())
{
    const bool saving = kind == Kind::Save;
    setObjectName(QStringLiteral("frmProject"));
    setWindowTitle(saving ? QStringLiteral(" Сохранение проекта") : QStringLiteral(" Открытие проекта"));
    setFixedSize(twips::toPixels(5415), twips::toPixels(1620));
    setFont(fonts::msSansSerif());
    const QString name = QFileInfo(path).fileName();
    Label1 = place(new QLabel(saving ? QStringLiteral("Запись проекта «%1»…").arg(name)
                                     : QStringLiteral("Чтение проекта «%1»…").arg(name),
                              this),
                   "Label1", 135, 135, 5100, 240);
    Label1->setToolTip(QDir::toNativeSeparators(path));
    ProgressBar1 = place(new controls::ProgressBar(this), "ProgressBar1", 135, 480, 5100, 285);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    Command1 = controls::button(this, "Command1", QStringLiteral("Отмена"), 3780, 960, 1455, 420);
    Command1->setToolTip(QStringLiteral("Прекратить чтение; на экране всё останется как было."));
    Command1->setFont(fonts::msSansSerif(8.25, true));
    Command1->setAutoDefault(false);
    // A save is not stopped half-way: the file would stay as it was, but the person asked for it saved.
    Command1->setVisible(!saving);
    connect(Command1, &QPushButton::clicked, this, &frmProject::reject);
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &frmProject::poll);
    timer->start(40);
}

frmProject::~frmProject() { m_shared->cancelled = true; }

bool frmProject::run(Work work, project::ProjectResult &result)
{
    // Detached: ending the program never waits for a slow disk. What the thread uses it owns.
    std::thread([shared = m_shared, work = std::move(work)] {
        project::ProjectResult r = work([&shared](qint64 done, qint64 total) {
            shared->total.store(total, std::memory_order_relaxed);
            shared->done.store(done, std::memory_order_relaxed);
        });
        shared->result = std::move(r);
        shared->finished.store(true, std::memory_order_release);
    }).detach();

    const auto finished = [this] { return m_shared->finished.load(std::memory_order_acquire); };
    // Painting and timers go on; the person's input waits for the window or the end.
    controls::waitWithoutInput(finished, QuietMs);
    if (!finished() && exec() != QDialog::Accepted && m_shared->cancelled)
        return false;
    result = std::move(m_shared->result);
    return true;
}

void frmProject::poll()
{
    if (const qint64 total = m_shared->total.load(std::memory_order_relaxed); total > 0)
        ProgressBar1->setValue(int(m_shared->done.load(std::memory_order_relaxed) * 1000 / total));
    if (isVisible() && m_shared->finished.load(std::memory_order_acquire))
        accept();
}

void frmProject::reject()
{
    // The close box and Escape stop an opening; a save runs to its end.
    if (m_kind == Kind::Save)
        return;
    m_shared->cancelled = true;
    QDialog::reject();
}
