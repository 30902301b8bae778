#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <cstring>

#include "export/ExportJob.h"
#include "export/FrameSource.h"
#include "export/ScaledFrames.h"
#include "export/UnfinishedExports.h"
#include "export/VideoFileWriter.h"
#include "files/AssetFile.h"
#include "export/SlideSounds.h"
#include "sound/Sound.h"
#include "slides/Journal.h"
#include "project/ProjectFile.h"
#include "slides/SlideFiles.h"
#include "slides/SlideStore.h"

namespace cli {

namespace {

// Qt's own options, which QApplication takes out of the arguments before the
// windows see them (one dash or two, as Qt accepts): those followed by a value,
// and those standing alone. The X11 ones (-display, -geometry, ...) are
// harmless elsewhere.
constexpr const char *QtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                          "qwindowgeometry", "qwindowtitle", "qwindowicon", "geometry",
                                          "title", "icon", "session", "style", "stylesheet", "display", "name",
                                          "visual"};
constexpr const char *QtFlagOptions[] = {"reverse", "widgetcount", "testability", "sync", "nograb", "dograb"};
constexpr const char *QtJoinedOptions[] = {"style=", "stylesheet=", "qmljsdebugger="};

// How many arguments from `arg` on are one of Qt's options: 0 when it is none.
int qtOptionLength(const QByteArray &arg)
{
    if (!arg.startsWith('-') || arg.startsWith("---"))
        return 0;
    const QByteArray name = arg.mid(arg.startsWith("--") ? 2 : 1);
    for (const char *option : QtValueOptions)
        if (name == option)
            return 2;
    for (const char *option : QtFlagOptions)
        if (name == option)
            return 1;
    for (const char *option : QtJoinedOptions)
        if (name.startsWith(option))
            return 1;
    return 0;
}

// The arguments without Qt's options (the program's name stays first).
QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList left;
    for (qsizetype i = 0; i < arguments.size();) {
        const int n = i == 0 ? 0 : qtOptionLength(arguments[i].toLocal8Bit());
        if (n == 0)
            left << arguments[i++];
        i += n;
    }
    return left;
}

// A sound file is read whole; a song of an hour in WAV is about 600 MB, in MP3 about 60.
constexpr qint64 MaxSoundBytes = qint64(1) << 30;

// The one line for a mistake: what is wrong, and where to look.
QString mistake(const QString &what)
{
    return QStringLiteral("%1. Справка: vellumo --help").arg(what);
}

// The signal that asked the export to stop, 0 while none has. A signal
// handler may do no more than set it; the job sees it after each frame and
// removes its temporary file on the way out.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void askToStop(int signal)
{
    if (stopSignal != 0) {
        // A second request means now: the default action, whatever is left.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    stopSignal = signal;
}

// Ctrl+C, kill and a closed terminal stop the export cleanly while this
// lives; the handlers found before come back afterwards. A signal that was
// ignored (nohup) stays ignored.
class StopOnSignals {
public:
    StopOnSignals()
    {
        stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = askToStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < std::size(Signals); ++i) {
            m_installed[i] = ::sigaction(Signals[i], nullptr, &m_before[i]) == 0 && m_before[i].sa_handler != SIG_IGN &&
                             ::sigaction(Signals[i], &action, nullptr) == 0;
        }
    }
    ~StopOnSignals()
    {
        for (size_t i = 0; i < std::size(Signals); ++i)
            if (m_installed[i])
                ::sigaction(Signals[i], &m_before[i], nullptr);
    }
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;

private:
    static constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_before[std::size(Signals)] {};
    bool m_installed[std::size(Signals)] {};
};

// Reports nothing while it runs: one line per problem is the rule, and a
// finished export says where its file is.
class QuietProgress : public exporting::Progress {
public:
    void report(int, int) override {}
    bool cancelled() const override { return stopSignal != 0; }
};

QString formatList()
{
    QStringList names;
    for (exporting::Format f : exporting::AllFormats)
        names << exporting::suffixFor(f);
    return names.join(QStringLiteral(", "));
}

// Why the parser refused `arguments`, naming the option as it was typed.
QString whatIsWrong(const QStringList &arguments, const QStringList &unknown)
{
    for (const QString &arg : arguments.mid(1)) {
        if (arg == QLatin1String("--"))
            break;
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            continue;
        const QString name = arg.section(QLatin1Char('='), 0, 0);
        const QString bare = name.mid(name.startsWith(QLatin1String("--")) ? 2 : 1);
        if (unknown.contains(bare))
            return QStringLiteral("Неизвестный параметр «%1»").arg(name);
        if (arg.contains(QLatin1Char('=')) && bare != QLatin1String("export") && bare != QLatin1String("fps") &&
            bare != QLatin1String("sound"))
            return QStringLiteral("Параметр «%1» пишется без значения").arg(name);
    }
    // What is left: an option that takes a value came last, without one.
    return QStringLiteral("Не указано значение параметра «%1»").arg(arguments.last());
}

} // namespace

QString projectToOpen(int argc, char *argv[])
{
    QList<QByteArray> own;
    for (int i = 1; i < argc;) {
        const int n = qtOptionLength(QByteArray(argv[i]));
        if (n == 0)
            own << QByteArray(argv[i++]);
        i += n;
    }
    if (own.size() != 1 || own.first().startsWith('-'))
        return {};
    // What a file manager passes for a double click: a project by its name, or any file there is
    // (a project renamed without its ending is still one; opening says so when it is not).
    const QString path = QFile::decodeName(own.first());
    const QFileInfo file(path);
    return path.endsWith(QLatin1String(".vellumo"), Qt::CaseInsensitive) || file.isFile() ? path : QString();
}

bool wantsCommandLine(int argc, char *argv[])
{
    if (!projectToOpen(argc, argv).isEmpty())
        return false;
    for (int i = 1; i < argc;) {
        const int n = qtOptionLength(QByteArray(argv[i]));
        if (n == 0)
            return true;
        i += n;
    }
    return false;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vellumo: мультфильмы кадр за кадром."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Показать эту справку."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Показать версию программы."));
    const QCommandLineOption exportTo(QStringLiteral("export"),
                                      QStringLiteral("Записать слайды папки в файл OUT: .gif, .mp4 или .webm."),
                                      QStringLiteral("OUT"));
    const QCommandLineOption fps(QStringLiteral("fps"),
                                 QStringLiteral("Кадров в секунду, от %1 до %2 (12, если не указано).")
                                     .arg(exporting::MinRate)
                                     .arg(exporting::MaxRate),
                                 QStringLiteral("N"), QStringLiteral("12"));
    const QCommandLineOption scale(QStringLiteral("scale"),
                                   QStringLiteral("Увеличить картинку в %1, %2 или %3 раза: каждая точка слайда "
                                                  "становится квадратом точек (1, если не указано).")
                                       .arg(exporting::MinScale)
                                       .arg(exporting::MinScale + 1)
                                       .arg(exporting::MaxScale),
                                   QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption soundOption(
        QStringLiteral("sound"),
        QStringLiteral("Звук из файла FILE (WAV, MP3, OGG, FLAC) под мультфильмом, со слайда N (с первого, если не "
                       "указано); можно несколько раз, звуки смешиваются. Только для .mp4 и .webm."),
        QStringLiteral("FILE[@N]"));
    parser.addOptions({help, version, exportTo, fps, scale, soundOption});
    // "-exprot" is one wrong option, not six short ones.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addPositionalArgument(QStringLiteral("FOLDER|PROJECT"),
                                 QStringLiteral("Папка со слайдами 001.bmp, 002.bmp, … или файл проекта .vellumo "
                                                "(для --export). Без --export файл проекта открывается в окне программы."));

    const QStringList own = withoutQtOptions(arguments);
    if (!parser.parse(own)) {
        err << mistake(whatIsWrong(own, parser.unknownOptionNames())) << Qt::endl;
        return 2;
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        return 0;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QStringLiteral(VELLUMO_VERSION) << Qt::endl;
        return 0;
    }
    if (!parser.isSet(exportTo)) {
        const QStringList stray = parser.positionalArguments();
        err << (stray.isEmpty() ? QStringLiteral("Не указан файл: vellumo --export OUT [--fps N] [--scale K] FOLDER|PROJECT")
                                : mistake(QStringLiteral("Лишний аргумент «%1»").arg(stray.first())))
            << Qt::endl;
        return 2;
    }

    bool problem = false;
    const QString outPath = parser.value(exportTo);
    const auto format = exporting::formatForPath(outPath);
    if (!format) {
        err << QStringLiteral("Неизвестный формат файла «%1»: можно %2").arg(outPath, formatList()) << Qt::endl;
        problem = true;
    }
    bool rateOk = false;
    const int rate = parser.value(fps).toInt(&rateOk);
    if (!rateOk || rate < exporting::MinRate || rate > exporting::MaxRate) {
        err << QStringLiteral("Неверная частота кадров «%1»: нужно целое число от %2 до %3")
                   .arg(parser.value(fps))
                   .arg(exporting::MinRate)
                   .arg(exporting::MaxRate)
            << Qt::endl;
        problem = true;
    }
    bool scaleOk = false;
    const int factor = parser.value(scale).toInt(&scaleOk);
    if (!scaleOk || factor < exporting::MinScale || factor > exporting::MaxScale) {
        err << QStringLiteral("Неверное увеличение «%1»: нужно %2, %3 или %4")
                   .arg(parser.value(scale))
                   .arg(exporting::MinScale)
                   .arg(exporting::MinScale + 1)
                   .arg(exporting::MaxScale)
            << Qt::endl;
        problem = true;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        err << (positional.isEmpty() ? QStringLiteral("Не указана папка со слайдами или файл проекта")
                                     : mistake(QStringLiteral("Лишний аргумент «%1»").arg(positional.at(1))))
            << Qt::endl;
        problem = true;
    }
    if (problem)
        return 2;

    StopOnSignals stopOnSignals;
    // Temporary files of exports from the command line killed before.
    const QString stateFolder = slides::journal::stateFolder();
    exporting::unfinished::sweep(stateFolder);

    // A project gives its slides as its file keeps them; a folder, its numbered pictures.
    const QString source = positional.first();
    exporting::FolderFrames folderFrames;
    slides::SlideStore projectSlides;
    std::unique_ptr<exporting::StoreFrames> storeFrames;
    exporting::FrameSource *frames = &folderFrames;
    if (QFileInfo(source).isFile()) {
        project::SceneSnapshot scene;
        const project::ProjectResult opened = project::ProjectFile::open(source, scene, projectSlides);
        if (!opened.ok()) {
            err << opened.message << Qt::endl;
            return 1;
        }
        if (!opened.lost.isEmpty())
            err << QStringLiteral("Предупреждение: %1").arg(opened.message) << Qt::endl;
        if (projectSlides.count() == 0) {
            err << QStringLiteral("В проекте «%1» нет слайдов").arg(QDir::toNativeSeparators(source)) << Qt::endl;
            return 1;
        }
        storeFrames = std::make_unique<exporting::StoreFrames>(projectSlides);
        frames = storeFrames.get();
    } else {
        QString error;
        if (!folderFrames.open(source, error)) {
            err << error << Qt::endl;
            return 1;
        }
        if (const int gap = folderFrames.firstGap()) {
            err << QStringLiteral("Предупреждение: в папке нет слайда %1 (%2); слайды идут по порядку номеров с пропуском")
                       .arg(gap)
                       .arg(slides::slideFileName(gap))
                << Qt::endl;
        }
    }
    // Sounds under the film: each from the first frame of its slide, mixed to the cartoon's length.
    std::shared_ptr<sound::Pcm> mix;
    // A project's own sounds go under it too, mixed with those the command line names.
    if (const QStringList sounds = parser.values(soundOption); !sounds.isEmpty() || projectSlides.hasSounds()) {
        std::vector<qint64> firstFrame(size_t(frames->count()) + 1, 0);
        qint64 cartoonFrames = 0;
        for (int i = 1; i <= frames->count(); ++i) {
            firstFrame[size_t(i)] = cartoonFrames;
            cartoonFrames += std::max(1, frames->duration(i));
        }
        const qint64 length = sound::frameStart(cartoonFrames, rate);
        exporting::SoundBed bed;
        for (const QString &value : sounds) {
            // "FILE@N": the slide's number after the last "@"; a name may hold an "@" of its own.
            QString file = value;
            int slide = 1;
            const int at = value.lastIndexOf(QLatin1Char('@'));
            bool numbered = false;
            if (at > 0) {
                const int n = value.mid(at + 1).toInt(&numbered);
                if (numbered) {
                    file = value.left(at);
                    slide = n;
                }
            }
            if (slide < 1 || slide > frames->count()) {
                err << QStringLiteral("Неверный номер слайда в «%1»: нужно от 1 до %2").arg(value).arg(frames->count())
                    << Qt::endl;
                return 2;
            }
            const files::FileData data = files::readAsset(file, MaxSoundBytes);
            if (!data.ok()) {
                err << QStringLiteral("Не удалось прочитать звук «%1»%2")
                           .arg(QDir::toNativeSeparators(file),
                                data.status == files::ReadStatus::TooLarge
                                    ? QStringLiteral(": файл больше %1 МБ").arg(MaxSoundBytes >> 20)
                                    : QString())
                    << Qt::endl;
                return 1;
            }
            const qint64 start = sound::frameStart(firstFrame[size_t(slide)], rate);
            sound::Decoded d = sound::decode(data.bytes, QFileInfo(file).fileName(), length - start);
            if (!d.ok()) {
                err << d.error << Qt::endl;
                return 1;
            }
            bed.add(std::move(d.pcm), start, 100);
        }
        if (*format == exporting::Format::Gif) {
            err << QStringLiteral("Предупреждение: в GIF нет звука; файл записан без него") << Qt::endl;
        } else {
            if (const QString error = exporting::addSlideSounds(projectSlides, rate, bed); !error.isEmpty()) {
                err << error << Qt::endl;
                return 1;
            }
            mix = bed.mix(length);
        }
    }

    QuietProgress progress;
    exporting::ScaledFrames scaled(*frames, factor);
    std::unique_ptr<exporting::FrameWriter> writer;
    if (mix) {
        auto video = std::make_unique<exporting::VideoFileWriter>(*format);
        video->setSound(mix);
        writer = std::move(video);
    } else {
        writer = exporting::makeWriter(*format);
    }
    const exporting::Outcome outcome =
        exporting::runExport(scaled, std::move(writer), rate, outPath, progress, stateFolder);
    if (outcome.status == exporting::Outcome::Cancelled) {
        err << QStringLiteral("Экспорт прерван, файл «%1» не записан")
                   .arg(QDir::toNativeSeparators(QFileInfo(outPath).absoluteFilePath()))
            << Qt::endl;
        // As a shell reports a command ended by a signal.
        return 128 + int(stopSignal);
    }
    if (outcome.status != exporting::Outcome::Written) {
        err << outcome.message << Qt::endl;
        return 1;
    }
    out << QStringLiteral("Записано кадров: %1, файл «%2»")
               .arg(frames->count())
               .arg(QDir::toNativeSeparators(QFileInfo(outPath).absoluteFilePath()))
        << Qt::endl;
    return 0;
}

} // namespace cli
