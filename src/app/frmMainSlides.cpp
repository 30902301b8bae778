// Recording slides and the slide commands of the main window.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QScopedValueRollback>

#include "app/frmMain.h"
#include "controls/Events.h"
#include "controls/NumberFormat.h"
#include "controls/Twips.h"
#include "controls/UndoKeys.h"
#include "export/frmExport.h"
#include "project/Document.h"
#include "project/SceneCodec.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"
#include "slides/frmRecover.h"

QImage frmMain::captureSlide()
{
    // The capture box's drawing surface is the slide's size: 396 x 346 inside a 1-pixel border.
    twips::resize(Picture4, twips::fromPixels(398), twips::fromPixels(348));
    // The stage must show its latest state before it is drawn into the slide.
    controls::doEvents();
    const QImage shot = slides::captureStage(Picture7->client());
    Picture4->setPicture(shot);
    return shot;
}

bool frmMain::SaveBuffer()
{
    const QImage shot = captureSlide();

    ++SlideCount;
    // Appending lets pending repaints and timers run: the count is raised first so that whatever runs
    // there meets a count that agrees with the buffer. The counter's caption is set after that turn, as
    // the last step of a recording, and painted with the rest of the window once the recording is over:
    // painting it in between would cost every recording a repaint of its own.
    bool stored = false;
    {
        const QScopedValueRollback<bool> storing(m_storingSlide, true);
        stored = Buffer()->append(shot);
    }
    if (!stored) {
        // The slides already held stay as they were; the count only moves with a stored slide.
        --SlideCount;
        m_state.message(this, {QStringLiteral("Не удалось сохранить слайд: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    // From the buffer as it stands now, whatever ran while the slide went in.
    showSlideCount();
    return true;
}

void frmMain::Command2_Click()
{
    // A recording that could not be stored leaves nothing new to warn about.
    if (SaveBuffer())
        m_state.SlidesUnsaved = true;
}

void frmMain::Command15_Click()
{
    Buffer()->exec();
}

void frmMain::Command1_Click()
{
    Buffer()->clear();
    Label3.at(1)->setText(QStringLiteral("000"));
    Command1->setEnabled(false);
    Command8->setEnabled(false);
    SlideCount = 0;
}

void frmMain::exportCartoon()
{
    // Made at first use and kept, so that it offers the last folder again.
    auto *window = Buffer()->findChild<frmExport *>();
    if (!window)
        window = new frmExport(m_state, m_buffer->store(), m_buffer);
    window->exec();
}

frmBuffer *frmMain::Buffer()
{
    if (!m_buffer) {
        m_buffer = new frmBuffer(m_state, this);
        connect(m_buffer, &frmBuffer::exportRequested, this, &frmMain::exportCartoon);
        connect(m_buffer, &frmBuffer::slidesChanged, this, &frmMain::showSlideCount);
        connect(m_buffer, &frmBuffer::slidesChanged, this, &frmMain::showOnionSkin);
        connect(m_buffer, &frmBuffer::insertionPointMoved, this, &frmMain::showOnionSkin);
        m_buffer->captureStage = [this] { return captureSlide(); };
    }
    return m_buffer;
}

void frmMain::showSlideCount()
{
    if (m_storingSlide)
        return;
    SlideCount = m_buffer->slideCount();
    Label3.at(1)->setText(numfmt::count3(SlideCount));
    Command1->setEnabled(SlideCount > 0);
    Command8->setEnabled(SlideCount > 1);
}

void frmMain::Undo()
{
    // Without a buffer there is nothing to undo: it is not built for the asking.
    if (m_buffer)
        m_buffer->Undo();
}

void frmMain::Redo()
{
    if (m_buffer)
        m_buffer->Redo();
}

void frmMain::restoreScene(const QByteArray &encoded, const QHash<QByteArray, QByteArray> &pictures)
{
    project::SceneSnapshot scene;
    QList<QByteArray> keys;
    if (encoded.isEmpty() || !project::decodeScene(encoded, scene, keys))
        return;
    // A picture the journal lost leaves its object empty, as a damaged picture in a project does.
    scene.background = pictures.value(keys.value(0));
    for (int i = 0; i < scene.objects.size(); ++i)
        scene.objects[i].picture = pictures.value(keys.value(i + 1));
    project::applySnapshot(*this, scene);
}

void frmMain::offerRecovery()
{
    if (m_state.stateFolder.isEmpty())
        return;
    slides::SlideBuffer &slides = Buffer()->slides();
    // A large journal takes seconds to read back: a window shows how far it is.
    frmRecover reading;
    const slides::SlideBuffer::Found found =
        slides.findLeftOver([&reading](qint64 done, qint64 total) { reading.report(done, total); });
    reading.hide();
    if (found.unsaved > 0 || found.sceneUnsaved) {
        // The number named is what "Да" brings back; saved slides come back with the unsaved ones. The
        // stage comes back with them; a stage changed after the last save is offered on its own too.
        QString question;
        if (found.unsaved == 0)
            question = found.project.isEmpty()
                           ? QStringLiteral("Найдена несохранённая сцена с прошлого раза. Восстановить?")
                           : QStringLiteral("Найдены несохранённые изменения проекта «%1» с прошлого раза. Восстановить?")
                                 .arg(QFileInfo(found.project).completeBaseName());
        else if (found.slides == found.unsaved)
            question = QStringLiteral("Найдено несохранённых слайдов с прошлого раза: %1. Восстановить?").arg(found.unsaved);
        else
            question = QStringLiteral("Найдено слайдов с прошлого раза: %1, из них не сохранено: %2. Восстановить?")
                           .arg(found.slides)
                           .arg(found.unsaved);
        const controls::MsgResult answer = m_state.message(
            nullptr, {question, QString(), controls::MsgIcon::Question, controls::MsgButtons::YesNo});
        if (answer == controls::MsgResult::Yes) {
            slides.acceptLeftOver();
            if (found.unsaved > 0)
                m_state.SlidesUnsaved = true;
            restoreScene(found.scene, found.pictures);
            m_document->adoptRecovered(found.project);
        } else {
            slides.declineLeftOver();
        }
    }
    for (const QString &kept : found.keptAside)
        m_state.message(nullptr, {QStringLiteral("Журнал несохранённых слайдов записан более новой версией программы "
                                                 "и не может быть прочитан. Он оставлен в файле «%1».")
                                      .arg(QDir::toNativeSeparators(kept)),
                                  QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
    if (!found.damaged.isEmpty())
        m_state.message(nullptr, {QStringLiteral("Журнал несохранённых слайдов повреждён, и слайды из него не могут быть "
                                                 "восстановлены. Он оставлен в файле «%1».")
                                      .arg(QDir::toNativeSeparators(found.damaged)),
                                  QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
}
