#include "slides/frmVoice.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <cstring>

#include "controls/Button.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"

using twips::place;

namespace {
const QString RecordCaption = QStringLiteral("Запись");
const QString StopCaption = QStringLiteral("Стоп");

QString minutes(qint64 frames)
{
    const qint64 s = frames / sound::Rate;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

frmVoice::frmVoice(std::unique_ptr<sound::Microphone> microphone, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_microphone(std::move(microphone))
{
    setObjectName(QStringLiteral("frmVoice"));
    setWindowTitle(QStringLiteral(" Записать голос"));
    setFixedSize(twips::toPixels(4560), twips::toPixels(1740));
    setFont(fonts::msSansSerif());

    Label1 = place(new QLabel(this), "Label1", 180, 120, 4200, 480);
    Label1->setWordWrap(true);
    Level = place(new QProgressBar(this), "Level", 180, 660, 4200, 200);
    Level->setRange(0, 100);
    Level->setValue(0);
    Level->setTextVisible(false);
    Level->setAccessibleName(QStringLiteral("Громкость микрофона"));
    Command1 = place(new controls::Button(RecordCaption, this), "Command1", 180, 1080, 1245, 375);
    Command2 = place(new controls::Button(QStringLiteral("ОК"), this), "Command2", 1860, 1080, 1185, 375);
    Command3 = place(new controls::Button(QStringLiteral("Отмена"), this), "Command3", 3195, 1080, 1185, 375);
    for (QPushButton *b : {Command1, Command2, Command3})
        b->setAutoDefault(false);
    Command2->setEnabled(false);
    connect(Command1, &QPushButton::clicked, this, &frmVoice::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmVoice::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &QDialog::reject);

    if (m_microphone) {
        showLength();
        connect(m_microphone.get(), &sound::Microphone::heard, this, &frmVoice::heard);
        connect(m_microphone.get(), &sound::Microphone::failed, this, [this](const QString &why) { stopRecording(why); });
        Command1->setFocus();
    } else {
        Label1->setText(QStringLiteral("Микрофон не найден. Подключите микрофон и откройте это окно снова."));
        Command1->setEnabled(false);
        Command3->setFocus();
    }
    controls::centreOnScreen(this);
}

frmVoice::~frmVoice()
{
    if (m_microphone)
        m_microphone->stop();
}

void frmVoice::Command1_Click()
{
    if (m_recording) {
        stopRecording();
        return;
    }
    if (!m_microphone || m_take.frames() >= MaxFrames)
        return;
    QString error;
    if (!m_microphone->start(error)) {
        Label1->setText(error);
        return;
    }
    m_recording = true;
    Command1->setText(StopCaption);
    Command2->setEnabled(false);
    showLength();
}

void frmVoice::Command2_Click()
{
    stopRecording();
    if (m_take.frames() > 0)
        accept();
}

void frmVoice::heard(const QByteArray &pcm)
{
    if (!m_recording)
        return;
    const qint64 frames = std::min<qint64>(pcm.size() / qint64(sound::Channels * sizeof(qint16)),
                                           MaxFrames - m_take.frames());
    const size_t was = m_take.samples.size();
    m_take.samples.resize(was + size_t(frames) * sound::Channels);
    std::memcpy(m_take.samples.data() + was, pcm.constData(), size_t(frames) * sound::Channels * sizeof(qint16));
    // The bar shows the loudest sample of what was just heard.
    int peak = 0;
    for (auto s = m_take.samples.begin() + qsizetype(was); s != m_take.samples.end(); ++s)
        peak = std::max(peak, std::abs(int(*s)));
    Level->setValue(peak * 100 / 32768);
    if (m_take.frames() >= MaxFrames)
        stopRecording(QStringLiteral("Запись остановлена: голос записывается не дольше %1 минут.")
                          .arg(MaxFrames / sound::Rate / 60));
    else
        showLength();
}

void frmVoice::stopRecording(const QString &why)
{
    if (m_recording && m_microphone)
        m_microphone->stop();
    m_recording = false;
    Command1->setText(RecordCaption);
    Command1->setEnabled(m_microphone && m_take.frames() < MaxFrames);
    Command2->setEnabled(m_take.frames() > 0);
    Level->setValue(0);
    if (!why.isEmpty())
        Label1->setText(why);
    else
        showLength();
}

void frmVoice::showLength()
{
    if (m_recording)
        Label1->setText(QStringLiteral("Идёт запись: %1. «Стоп» — остановить.").arg(minutes(m_take.frames())));
    else if (m_take.frames() > 0)
        Label1->setText(QStringLiteral("Записано %1. «ОК» — добавить голос к слайду, «Запись» — продолжить.")
                            .arg(minutes(m_take.frames())));
    else
        Label1->setText(QStringLiteral("Нажмите «Запись» и говорите в микрофон."));
}

void frmVoice::closeEvent(QCloseEvent *event)
{
    // The close box keeps what was recorded, as "ОК" does: a take is not thrown away without "Отмена".
    stopRecording();
    if (m_take.frames() > 0) {
        event->accept();
        accept();
        return;
    }
    QDialog::closeEvent(event);
}
