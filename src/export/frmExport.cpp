#include "export/frmExport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>

#include "export/SlideSounds.h"
#include "export/VideoFileWriter.h"
#include <QSpinBox>
#include <QStandardPaths>
#include <QThread>

#include <atomic>

#include "controls/Fonts.h"
#include "controls/ProgressBar.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"
#include "export/ScaledFrames.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

using namespace exporting;
using twips::place;

namespace {

// The same folder once written through different spellings (a link, "..").
QString canonicalFolder(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

// An estimate that takes longer than this is given up: the window shows the
// picture's size alone.
constexpr qint64 EstimateLimitMs = 15000;

} // namespace

struct frmExport::Estimation {
    std::atomic<bool> stop{false}; // set by the window only
    Format format = Format::Gif;
    int fps = 12;
    int scale = 1;
    qint64 bytes = -1;
};

frmExport::frmExport(AppState &state, const slides::SlideStore &store, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_state(state), m_store(store)
{
    setObjectName(QStringLiteral("frmExport"));
    setWindowTitle(QStringLiteral(" Экспорт мультфильма"));
    setFixedSize(twips::toPixels(5415), twips::toPixels(2790));
    setFont(fonts::msSansSerif());

    Label1 = place(new QLabel(QStringLiteral("Формат:"), this), "Label1", 135, 225, 1560, 240);
    Combo1 = place(new QComboBox(this), "Combo1", 1755, 180, 3480, 315);
    Combo1->setToolTip(QStringLiteral("Вид файла: GIF — движущаяся картинка для сайта или письма,\nMP4 и WebM — видео."));
    for (Format f : AllFormats)
        Combo1->addItem(titleFor(f), int(f));
    Label2 = place(new QLabel(QStringLiteral("Кадров в секунду:"), this), "Label2", 135, 660, 1560, 240);
    Spin1 = place(new QSpinBox(this), "Spin1", 1755, 615, 900, 315);
    Spin1->setToolTip(QStringLiteral("Скорость мультфильма: сколько слайдов показывать в секунду."));
    Spin1->setRange(MinRate, MaxRate);
    Spin1->setValue(state.PreviewRate);
    // The size sits beside the rate, in the room the rate's short box leaves.
    Label4 = place(new QLabel(QStringLiteral("Размер:"), this), "Label4", 3015, 660, 1230, 240);
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Combo2 = place(new QComboBox(this), "Combo2", 4335, 615, 900, 315);
    Combo2->setToolTip(QStringLiteral("Во сколько раз увеличить мультфильм для больших экранов и телефонов:\n"
                                      "каждая точка слайда становится квадратом 2 × 2 или 3 × 3 точки,\n"
                                      "и картинка остаётся такой же чёткой, как на сцене."));
    for (int f = MinScale; f <= MaxScale; ++f)
        Combo2->addItem(QStringLiteral("×%1").arg(f), f);
    Label4->setBuddy(Combo2);
    Label3 = place(new QLabel(this), "Label3", 135, 1110, 5100, 240);
    Label5 = place(new QLabel(QStringLiteral("В GIF нет звука: мультфильм будет записан без него."), this), "Label5",
                   135, 1410, 5100, 240);
    Label5->hide();
    ProgressBar1 = place(new controls::ProgressBar(this), "ProgressBar1", 135, 1710, 5100, 285);
    ProgressBar1->setToolTip(QStringLiteral("Сколько слайдов уже записано в файл."));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    Command1 = controls::button(this, "Command1", QStringLiteral("Экспортировать…"), 1755, 2190, 1935, 420);
    Command1->setToolTip(QStringLiteral("Выбрать, куда и под каким именем сохранить файл,\nи записать в него мультфильм."));
    Command2 = controls::button(this, "Command2", QStringLiteral("Отмена"), 3780, 2190, 1455, 420);
    Command2->setToolTip(QStringLiteral("Закрыть окно; во время записи — прервать её."));
    for (controls::Button *b : {Command1, Command2}) {
        b->setFont(fonts::msSansSerif(8.25, true));
        b->setAutoDefault(false);
    }
    Command1->setDefault(true);

    setTabOrder(Combo1, Spin1);
    setTabOrder(Spin1, Combo2);
    setTabOrder(Combo2, Command1);
    setTabOrder(Command1, Command2);

    askSaveFile = [](QWidget *parent, const QString &caption, const QString &path, const QString &filter) {
        return QFileDialog::getSaveFileName(parent, caption, path, filter);
    };

    connect(Command1, &QPushButton::clicked, this, &frmExport::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmExport::Command2_Click);
    // A few looks a second are enough for a bar; the job never waits on the window.
    m_poll.setInterval(50);
    connect(&m_poll, &QTimer::timeout, this, &frmExport::poll);

    // Settings changed in quick succession (a spin held down) start one estimate.
    m_estimateDelay.setSingleShot(true);
    m_estimateDelay.setInterval(200);
    connect(&m_estimateDelay, &QTimer::timeout, this, &frmExport::startEstimate);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &frmExport::estimateLater);
    connect(Combo1, &QComboBox::currentIndexChanged, this,
            [this] { Label5->setVisible(format() == Format::Gif && m_store.hasSounds()); });
    connect(Spin1, &QSpinBox::valueChanged, this, &frmExport::estimateLater);
    connect(Combo2, &QComboBox::currentIndexChanged, this, &frmExport::estimateLater);

    controls::centreOnScreen(this);
}

frmExport::~frmExport()
{
    stopEstimate(true);
    if (m_thread) {
        // The job looks at the flag after every frame, so this wait is short.
        m_progress->cancel();
        m_thread->wait();
        delete m_thread;
    }
}

Format frmExport::format() const { return Format(Combo1->currentData().toInt()); }

int frmExport::scale() const { return Combo2->currentData().toInt(); }

void frmExport::showEvent(QShowEvent *event)
{
    if (!running()) {
        // Each opening starts at the rate last chosen in the preview.
        Spin1->setValue(m_state.PreviewRate);
        ProgressBar1->setValue(0);
        // The slides may have changed since the last opening.
        m_sample = std::make_shared<SizeSample>();
        estimateLater();
    }
    QDialog::showEvent(event);
}

void frmExport::hideEvent(QHideEvent *event)
{
    // The slides may change once the window is gone, so the worker that
    // reads them is stopped before; it stops after the slide in hand.
    stopEstimate(true);
    m_estimateDelay.stop();
    m_sample.reset();
    QDialog::hideEvent(event);
}

void frmExport::showOutputSize()
{
    const QSize pixels = QSize(slides::SlideWidth, slides::SlideHeight) * scale();
    QString text = QStringLiteral("%1 × %2 пикселей").arg(pixels.width()).arg(pixels.height());
    if (m_estimate >= 0)
        text += QStringLiteral(", файл %1").arg(approximateSize(m_estimate));
    else if (m_estimateDelay.isActive() || estimating())
        text += QStringLiteral(", размер файла оценивается…");
    Label3->setText(text);
    Label5->setVisible(format() == Format::Gif && m_store.hasSounds());
}

void frmExport::estimateLater()
{
    if (running() || !isVisible())
        return;
    // A worker still at work answers for settings that are gone.
    if (m_estimation)
        m_estimation->stop = true;
    m_estimate = -1;
    if (m_store.count() > 0)
        m_estimateDelay.start();
    showOutputSize();
}

void frmExport::startEstimate()
{
    if (running() || !isVisible() || !m_sample || m_store.count() == 0)
        return;
    if (m_estimator) {
        // One worker at a time: this one is stale; the next starts when it ends.
        m_estimation->stop = true;
        m_estimateDelay.start();
        return;
    }
    auto job = std::make_shared<Estimation>();
    job->format = format();
    job->fps = Spin1->value();
    job->scale = scale();
    m_estimation = job;
    const std::shared_ptr<SizeSample> sample = m_sample;
    const slides::SlideStore *store = &m_store;
    m_estimator = QThread::create([job, sample, store] {
        QElapsedTimer clock;
        clock.start();
        const std::function<bool()> stop = [&] { return job->stop.load() || clock.elapsed() > EstimateLimitMs; };
        // The first estimate of an opening reads the slides it needs; the
        // later ones encode the same copies.
        if (sample->frames.empty()) {
            StoreFrames frames(*store);
            if (!takeSample(frames, *sample, stop)) {
                sample->frames.clear();
                return;
            }
        }
        job->bytes = estimateSize(*sample, job->format, job->fps, job->scale, stop);
    });
    m_estimator->setObjectName(QStringLiteral("estimate"));
    connect(m_estimator, &QThread::finished, this, &frmExport::estimateDone);
    m_estimator->start(QThread::LowPriority);
    showOutputSize();
}

void frmExport::estimateDone()
{
    m_estimator->deleteLater();
    m_estimator = nullptr;
    const std::shared_ptr<Estimation> job = std::move(m_estimation);
    if (job->stop || running() || job->format != format() || job->fps != Spin1->value() || job->scale != scale())
        return;
    // An estimate that failed or ran out of time leaves the pixels alone.
    m_estimate = job->bytes;
    showOutputSize();
    if (m_estimate >= 0)
        emit estimated(m_estimate);
}

void frmExport::stopEstimate(bool wait)
{
    if (!m_estimator)
        return;
    m_estimation->stop = true;
    if (wait) {
        disconnect(m_estimator, nullptr, this, nullptr);
        m_estimator->wait();
        delete m_estimator;
        m_estimator = nullptr;
        m_estimation.reset();
    }
}

QString frmExport::suggestedPath() const
{
    QString folder = m_folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        const auto where =
            format() == Format::Gif ? QStandardPaths::PicturesLocation : QStandardPaths::MoviesLocation;
        folder = QStandardPaths::writableLocation(where);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QDir::homePath();
    }
    return QDir(folder).filePath(QStringLiteral("Мультфильм") + suffixFor(format()));
}

void frmExport::Command1_Click()
{
    if (running())
        return;
    if (m_store.count() == 0) {
        m_state.message(this, {QStringLiteral("Нет слайдов для экспорта"), QString(), controls::MsgIcon::None,
                               controls::MsgButtons::Ok});
        return;
    }
    const QString suffix = suffixFor(format());
    const QString filter = QStringLiteral("%1 (*%2)").arg(titleFor(format()), suffix);
    QString path = askSaveFile(this, QStringLiteral("Экспорт мультфильма"), suggestedPath(), filter);
    if (path.isEmpty())
        return;
    // The format chosen in the window decides; the name only gets its extension.
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    path = QFileInfo(path).absoluteFilePath();

    const QString folder = QFileInfo(path).absolutePath();
    if (!m_state.AnimationsFolder.isEmpty() && canonicalFolder(folder) == canonicalFolder(m_state.AnimationsFolder)) {
        m_state.message(this, {QStringLiteral("Файл нельзя сохранить в папку слайдов «%1»: при сохранении слайдов "
                                              "все файлы этой папки удаляются. Выберите другую папку.")
                                   .arg(QDir::toNativeSeparators(folder)),
                               QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
        return;
    }
    m_folder = folder;
    start(path);
}

void frmExport::start(const QString &path)
{
    // The estimate has no more use and would take a core from the export.
    m_estimateDelay.stop();
    stopEstimate(false);
    m_path = path;
    m_progress = std::make_unique<SharedProgress>();
    m_source = std::make_unique<StoreFrames>(m_store);
    const Format fmt = format();
    const int fps = Spin1->value();
    const int factor = scale();
    m_outcome = Outcome{};
    // The window is modal, so the slides cannot change while the job reads them.
    m_thread = QThread::create([this, fmt, fps, factor, path] {
        ScaledFrames frames(*m_source, factor);
        // The slides' sounds go under a video, mixed on this thread before the pictures are written.
        std::shared_ptr<sound::Pcm> mix;
        if (fmt != Format::Gif && m_store.hasSounds()) {
            SoundBed bed;
            const QString error = addSlideSounds(m_store, fps, bed, m_progress->cancelFlag());
            if (m_progress->cancelled()) {
                m_outcome = {Outcome::Cancelled, QString()};
                return;
            }
            if (!error.isEmpty()) {
                m_outcome = {Outcome::Failed, error};
                return;
            }
            mix = bed.mix(soundLength(m_store, fps));
        }
        if (mix) {
            auto video = std::make_unique<VideoFileWriter>(fmt);
            video->setSound(std::move(mix));
            m_outcome = runExport(frames, std::move(video), fps, path, *m_progress, m_state.stateFolder);
        } else {
            m_outcome = runExport(frames, fmt, fps, path, *m_progress, m_state.stateFolder);
        }
    });
    m_thread->setObjectName(QStringLiteral("export"));
    connect(m_thread, &QThread::finished, this, &frmExport::ended);
    setRunning(true);
    Label3->setText(QStringLiteral("Идёт экспорт…"));
    m_thread->start(QThread::LowPriority);
    m_poll.start();
}

void frmExport::poll()
{
    if (!m_progress)
        return;
    const int total = m_progress->total(), done = m_progress->done();
    if (total <= 0)
        return;
    ProgressBar1->setMaximum(total);
    ProgressBar1->setValue(done);
    const int frames = m_store.count();
    // A GIF reads every slide twice: once for its colours, once to write it.
    if (total > frames && done < frames)
        Label3->setText(QStringLiteral("Подбор цветов: слайд %1 из %2").arg(done + 1).arg(frames));
    else
        Label3->setText(QStringLiteral("Запись: слайд %1 из %2")
                            .arg(std::min((total > frames ? done - frames : done) + 1, frames))
                            .arg(frames));
}

void frmExport::ended()
{
    m_poll.stop();
    m_thread->deleteLater();
    m_thread = nullptr;
    m_source.reset();
    setRunning(false);
    ProgressBar1->setValue(0);
    const Outcome outcome = m_outcome;
    switch (outcome.status) {
    case Outcome::Written:
        Label3->setText(QStringLiteral("Готово"));
        // The window has done its work; the message stands over the slide buffer.
        hide();
        if (m_state.message(parentWidget() ? parentWidget() : this,
                            {QStringLiteral("Мультфильм сохранён в файл «%1».").arg(QDir::toNativeSeparators(m_path)),
                             QString(), controls::MsgIcon::Information, controls::MsgButtons::OkOpenFolder})
            == controls::MsgResult::OpenFolder)
            m_state.showInFolder(m_path);
        break;
    case Outcome::Cancelled:
        Label3->setText(QStringLiteral("Экспорт отменён"));
        break;
    case Outcome::Failed:
        Label3->setText(QStringLiteral("Экспорт не удался"));
        m_state.message(this, {outcome.message, QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        break;
    }
    emit exportEnded(outcome.status);
}

void frmExport::setRunning(bool running)
{
    Combo1->setEnabled(!running);
    Spin1->setEnabled(!running);
    Combo2->setEnabled(!running);
    Label4->setEnabled(!running);
    Command1->setEnabled(!running);
    Label1->setEnabled(!running);
    Label2->setEnabled(!running);
}

void frmExport::Command2_Click()
{
    if (running()) {
        m_progress->cancel();
        Label3->setText(QStringLiteral("Отмена…"));
        return;
    }
    hide();
}

void frmExport::reject() { Command2_Click(); }
