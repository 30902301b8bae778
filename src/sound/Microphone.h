#pragma once
// The microphone, heard as the program's one form of sound (48 kHz, stereo, 16-bit) whatever the device
// gives. Behind a small interface, so that a recording window can be driven by a made-up microphone
// where a machine has none.

#include <QAudioFormat>
#include <QObject>

#include <memory>

class QAudioSource;
class QIODevice;

namespace sound {

class Microphone : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts hearing; false, with `error` saying why for the person, when the microphone cannot be used
    // (the system refused it, another program holds it, it went away).
    virtual bool start(QString &error) = 0;
    virtual void stop() = 0;

signals:
    // What was heard since the last time: whole frames of 48 kHz stereo 16-bit samples.
    void heard(const QByteArray &pcm);
    // It stopped by itself while hearing.
    void failed(const QString &why);
};

// The system's default microphone; null when the system has none.
std::unique_ptr<Microphone> defaultMicrophone();

// Turns what a device gives, in its own format, into 48 kHz stereo 16-bit frames. The position between
// input frames is carried from one piece to the next, so that pieces join without a seam.
class InputConverter {
public:
    explicit InputConverter(const QAudioFormat &format) : m_format(format) {}
    QByteArray convert(const QByteArray &raw);

private:
    QAudioFormat m_format;
    QByteArray m_rest;  // the start of a frame the last piece ended in
    double m_pos = 0;   // where the next output frame is taken, in input frames from the piece's start
};

} // namespace sound
