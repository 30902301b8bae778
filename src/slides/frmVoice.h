#pragma once
// " Записать голос": records a take from the microphone for the chosen slide. "Запись" starts hearing and
// becomes "Стоп"; a bar follows how loud the microphone is; a second "Запись" goes on with the same take.
// "ОК" (or the close box) keeps the take, "Отмена" (or Esc) throws it away. Where there is no microphone,
// or it is refused, the window says so and records nothing.

#include <QDialog>

#include <memory>

#include "sound/Microphone.h"
#include "sound/Sound.h"

class QLabel;
class QProgressBar;
namespace controls {
class Button;
}

class frmVoice : public QDialog {
    Q_OBJECT
public:
    // `microphone` is null when the system has none.
    explicit frmVoice(std::unique_ptr<sound::Microphone> microphone, QWidget *parent = nullptr);
    ~frmVoice() override;

    // A take is never longer than this, so that a recording forgotten running stays within memory.
    static constexpr qint64 MaxFrames = qint64(sound::Rate) * 60 * 10;

    const sound::Pcm &take() const { return m_take; }
    bool recording() const { return m_recording; }

    QLabel *Label1;             // what is happening: ready, recording, how long the take is, what went wrong
    QProgressBar *Level;        // how loud the microphone is now
    controls::Button *Command1; // "Запись" / "Стоп"
    controls::Button *Command2; // "ОК"
    controls::Button *Command3; // "Отмена"

    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void heard(const QByteArray &pcm);
    void stopRecording(const QString &why = QString());
    void showLength();

    std::unique_ptr<sound::Microphone> m_microphone;
    sound::Pcm m_take;
    bool m_recording = false;
};
