#include "project/Document.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

#include "app/AppState.h"
#include "app/frmMain.h"
#include "project/SceneCodec.h"
#include "project/frmProject.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideStore.h"
#include "slides/frmBuffer.h"

namespace project {

namespace {

const QString Suffix = QStringLiteral(".vellumo");
const QString RecentFile = QStringLiteral("recent-projects");

// Stands for a picture's bytes by where they lie: bytes shared with the snapshot last saved are the same
// picture, and any picture loaded since has bytes of its own.
QByteArray identity(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    const quintptr at = quintptr(bytes.constData());
    const qint64 size = bytes.size();
    QByteArray id(reinterpret_cast<const char *>(&at), sizeof at);
    id.append(reinterpret_cast<const char *>(&size), sizeof size);
    return id;
}

controls::Message warning(const QString &text)
{
    return {text, QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok};
}

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

} // namespace

SceneSnapshot comparable(const SceneSnapshot &scene)
{
    SceneSnapshot s = scene;
    s.background = identity(s.background);
    bool running = false;
    for (StageObject &o : s.objects) {
        o.picture = identity(o.picture);
        if (o.playing) {
            o.frame = 0;
            running = true;
        }
    }
    // The frame on show in the statistics follows a running animation by itself.
    if (running && s.captions.size() > 2)
        s.captions[2].clear();
    return s;
}

Document::Document(frmMain &main, AppState &state) : QObject(&main), m_main(main), m_state(state)
{
    setObjectName(QStringLiteral("Document"));
    askFile = [](QWidget *parent, const QString &caption, const QString &start, bool saving) {
        QFileDialog dialog(parent, caption, start, QStringLiteral("Проекты Vellumo (*.vellumo)"));
        dialog.setObjectName(saving ? QStringLiteral("SaveProject") : QStringLiteral("OpenProject"));
        dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // A name typed without ".vellumo" gets it before the dialog asks whether to replace a file.
        dialog.setDefaultSuffix(QStringLiteral("vellumo"));
        if (saving && QFileInfo(start).isDir() == false)
            dialog.selectFile(start);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                     : QString();
    };
    m_fresh = takeSnapshot(main);
    m_savedScene = m_fresh;
    connect(&slides(), &slides::SlideBuffer::changed, this, [this] {
        const bool was = isModified();
        ++m_slideChanges;
        if (was != isModified())
            emit changed();
    });
    // Whatever the person did may have changed the scene: it is looked at once the input has been handled.
    qApp->installEventFilter(this);
    loadRecent();
}

Document::~Document() = default;

slides::SlideBuffer &Document::slides() { return m_main.Buffer()->slides(); }

QString Document::name() const
{
    if (m_path.isEmpty())
        return {};
    const QString file = QFileInfo(m_path).fileName();
    return file.endsWith(Suffix, Qt::CaseInsensitive) ? file.chopped(Suffix.size()) : file;
}

bool Document::isModified() const { return m_sceneChanged || m_slideChanges != m_savedSlideChanges; }

QString Document::title() const
{
    if (m_path.isEmpty())
        return QStringLiteral(" Vellumo");
    return QStringLiteral("%1%2[*] — Vellumo").arg(name(), m_readOnly ? QStringLiteral(" (только чтение)") : QString());
}

bool Document::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
        if (!m_checkQueued) {
            m_checkQueued = true;
            QTimer::singleShot(0, this, &Document::checkScene);
        }
        break;
    default:
        break;
    }
    return false;
}

void Document::checkScene()
{
    m_checkQueued = false;
    const bool was = isModified();
    const SceneSnapshot now = takeSnapshot(m_main);
    SceneSnapshot key = comparable(now);
    m_sceneChanged = key != comparable(m_savedScene);
    // A stage that changed is written to the recovery journal, once for each new look.
    if (m_sceneChanged && key != comparable(m_journaled))
        journalScene(now);
    if (was != isModified())
        emit changed();
}

void Document::journalScene(const SceneSnapshot &scene)
{
    m_journaled = scene;
    QList<QByteArray> keys;
    QHash<QByteArray, QByteArray> bytes;
    for (const QByteArray &picture : scene.pictures()) {
        const QByteArray key = pictureKey(picture);
        if (key.isEmpty())
            continue;
        keys << key;
        bytes.insert(key, picture);
    }
    slides().journalScene(
        encodeScene(scene), keys, [&bytes](const QByteArray &key) { return bytes.value(key); }, m_path);
}

bool Document::askToSave()
{
    const QString shownName = m_path.isEmpty() ? QStringLiteral("Без названия") : name();
    switch (m_state.message(&m_main, {QStringLiteral("Сохранить изменения в проекте «%1»?").arg(shownName), QString(),
                                      controls::MsgIcon::Question, controls::MsgButtons::YesNoCancel})) {
    case controls::MsgResult::Yes:
        return save();
    case controls::MsgResult::No:
        return true;
    default:
        return false;
    }
}

bool Document::mayLeave()
{
    checkScene();
    // An untitled project ends as the program always has; the journal keeps its work.
    if (m_path.isEmpty() || !isModified())
        return true;
    return askToSave();
}

bool Document::newProject()
{
    checkScene();
    if (isModified() && !askToSave())
        return false;
    applySnapshot(m_main, m_fresh);
    slides().replaceAll(slides::SlideStore());
    m_written.reset();
    m_lock.release();
    m_path.clear();
    m_readOnly = false;
    becomeSaved(QString());
    return true;
}

bool Document::open()
{
    checkScene();
    if (isModified() && !askToSave())
        return false;
    const QString path = askFile(&m_main, QStringLiteral("Открыть проект"), startFolder(), false);
    return !path.isEmpty() && load(path);
}

bool Document::openFile(const QString &path)
{
    checkScene();
    if (isModified() && !askToSave())
        return false;
    return load(path);
}

bool Document::lockFor(const QString &path, bool &readOnly)
{
    readOnly = false;
    // This program's own hold on the file is no reason to refuse it.
    if (path == m_path && m_lock.held())
        return true;
    ProjectLock probe;
    if (probe.acquire(path) != ProjectLock::Outcome::HeldElsewhere)
        return true;
    const controls::MsgResult answer = m_state.message(
        &m_main, {QStringLiteral("Проект «%1» уже открыт в другой копии программы. Открыть его только для чтения?")
                      .arg(shown(path)),
                  QString(), controls::MsgIcon::Question, controls::MsgButtons::YesNo});
    readOnly = true;
    return answer == controls::MsgResult::Yes;
}

bool Document::load(const QString &given)
{
    const QString path = QFileInfo(given).absoluteFilePath();
    bool readOnly = false;
    if (QFileInfo::exists(path) && !lockFor(path, readOnly))
        return false;
    auto scene = std::make_shared<SceneSnapshot>();
    auto store = std::make_shared<slides::SlideStore>();
    auto written = std::make_shared<ProjectFile::WrittenState>();
    ProjectResult result;
    {
        frmProject window(frmProject::Kind::Open, path, &m_main);
        const bool finished = window.run(
            [path, scene, store, written](const ProjectFile::Progress &progress) {
                return ProjectFile::open(path, *scene, *store, written.get(), progress);
            },
            result);
        if (!finished)
            return false;
    }
    if (!result.ok()) {
        // The work on screen stays as it was; a project that is gone leaves the recent list.
        if (!QFileInfo::exists(path) && m_recent.removeAll(path) > 0) {
            storeRecent();
            emit changed();
        }
        m_state.message(&m_main, warning(result.message));
        return false;
    }
    applySnapshot(m_main, *scene);
    slides().replaceAll(std::move(*store));
    m_written = written;
    if (!result.lost.isEmpty())
        m_state.message(&m_main, warning(result.message));
    m_readOnly = readOnly;
    if (readOnly)
        m_lock.release();
    else
        m_lock.acquire(path);
    becomeSaved(path);
    // The journal knows the project's stage, so that slides recorded next come back with it after a crash.
    journalScene(takeSnapshot(m_main));
    slides().projectSaved(path);
    return true;
}

void Document::adoptRecovered(const QString &path)
{
    if (!path.isEmpty() && QFileInfo::exists(path)) {
        bool readOnly = false;
        lockFor(path, readOnly);
        m_path = QFileInfo(path).absoluteFilePath();
        m_readOnly = readOnly;
        if (!readOnly)
            m_lock.acquire(m_path);
    }
    // What came back was never saved: the scene counts as changed until it is.
    m_sceneChanged = true;
    emit changed();
}

bool Document::save()
{
    if (m_path.isEmpty() || m_readOnly)
        return saveAs();
    return saveTo(m_path);
}

bool Document::saveAs()
{
    const QString start = m_path.isEmpty() || m_readOnly
                              ? startFolder() + QStringLiteral("/Мультик") + Suffix
                              : m_path;
    QString path = askFile(&m_main, QStringLiteral("Сохранить проект"), start, true);
    if (path.isEmpty())
        return false;
    if (!path.endsWith(Suffix, Qt::CaseInsensitive))
        path += Suffix;
    return saveTo(QFileInfo(path).absoluteFilePath());
}

bool Document::saveTo(const QString &path)
{
    if (!(path == m_path && m_lock.held()) && ProjectLock::heldElsewhere(path)) {
        m_state.message(&m_main, warning(QStringLiteral("Проект «%1» открыт в другой копии программы, и записать его "
                                                        "нельзя. Сохраните проект под другим именем.")
                                             .arg(shown(path))));
        return false;
    }
    checkScene();
    const SceneSnapshot scene = takeSnapshot(m_main);
    // The copy shares the packed slides with the buffer; the thread reads them while this one waits.
    auto store = std::make_shared<const slides::SlideStore>(slides().store());
    // What was last written to this file lets a second save write only what changed since.
    auto written = path == m_path && m_written ? m_written : std::make_shared<ProjectFile::WrittenState>();
    ProjectResult result;
    {
        frmProject window(frmProject::Kind::Save, path, &m_main);
        window.run(
            [path, scene, store, written](const ProjectFile::Progress &progress) {
                return ProjectFile::save(path, scene, *store, written.get(), progress);
            },
            result);
    }
    m_written = written;
    if (!result.ok()) {
        m_state.message(&m_main, warning(result.message));
        return false;
    }
    m_readOnly = false;
    // A project written anew is a new file: the hold moves to it.
    m_lock.acquire(path);
    slides().projectSaved(path);
    becomeSaved(path);
    return true;
}

void Document::becomeSaved(const QString &path)
{
    m_path = path;
    // A saved project holds every slide: the warning about unsaved slides has nothing to warn about.
    m_state.SlidesUnsaved = false;
    m_savedScene = takeSnapshot(m_main);
    m_sceneChanged = false;
    m_savedSlideChanges = m_slideChanges;
    if (!path.isEmpty())
        remember(path);
    emit changed();
}

QString Document::startFolder() const
{
    // A portable copy keeps its projects beside itself, as it keeps its slides.
    if (m_state.userAssets.isEmpty() && !m_state.programFolder.isEmpty())
        return m_state.programFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void Document::remember(const QString &path)
{
    m_recent.removeAll(path);
    m_recent.prepend(path);
    while (m_recent.size() > RecentCount)
        m_recent.removeLast();
    storeRecent();
}

void Document::clearRecent()
{
    m_recent.clear();
    storeRecent();
    emit changed();
}

void Document::loadRecent()
{
    if (m_state.stateFolder.isEmpty())
        return;
    QFile file(m_state.stateFolder + QLatin1Char('/') + RecentFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // One absolute path a line; anything else in the file is skipped.
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    for (const QByteArray &line : lines) {
        const QString path = QString::fromUtf8(line);
        if (QDir::isAbsolutePath(path) && !m_recent.contains(path) && m_recent.size() < RecentCount)
            m_recent << path;
    }
}

void Document::storeRecent() const
{
    if (m_state.stateFolder.isEmpty() || !QDir().mkpath(m_state.stateFolder))
        return;
    // The list is a convenience: a disk that refuses it costs nothing else.
    QSaveFile file(m_state.stateFolder + QLatin1Char('/') + RecentFile);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const QString &path : m_recent)
        file.write(path.toUtf8() + '\n');
    file.commit();
}

} // namespace project
