#include "importing/frmImport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <thread>

#include "controls/Fonts.h"
#include "files/Deadline.h"

namespace importing {

namespace {

constexpr QSize PreviewSize(240, 210);
constexpr int SettleMs = 150;

const QString Title = QStringLiteral(" Добавление в библиотеку");

// "1 картинка", "2 картинки", "5 картинок", "21 картинка".
QString pictures(qsizetype n)
{
    const qsizetype tens = n % 100, ones = n % 10;
    const char *word = tens / 10 != 1 && ones == 1                 ? "картинка"
                       : tens / 10 != 1 && ones >= 2 && ones <= 4 ? "картинки"
                                                                   : "картинок";
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}

// Transparent parts of a frame show as the usual grey checks, so a prop's outline can be seen.
// Made on the worker, so that a long series costs the window nothing.
QImage onChecks(const QImage &image)
{
    QImage out(PreviewSize, QImage::Format_RGB32);
    QPainter p(&out);
    const int cell = 10;
    for (int y = 0; y < PreviewSize.height(); y += cell)
        for (int x = 0; x < PreviewSize.width(); x += cell)
            p.fillRect(x, y, cell, cell, ((x + y) / cell) % 2 ? QColor(204, 204, 204) : QColor(255, 255, 255));
    const QImage fitted = image.size().boundedTo(PreviewSize) == image.size()
                              ? image
                              : image.scaled(PreviewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawImage((PreviewSize.width() - fitted.width()) / 2, (PreviewSize.height() - fitted.height()) / 2, fitted);
    return out;
}

QSpinBox *spin(QWidget *parent, const char *name, int low, int high, int value)
{
    auto *s = new QSpinBox(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(low, high);
    s->setValue(value);
    return s;
}

} // namespace

frmImport::frmImport(const QList<Candidate> &candidates, const QString &libraryFolder, controls::MessageFn message,
                     QWidget *parent)
    : QDialog(parent), m_candidates(candidates), m_library(libraryFolder), m_message(std::move(message))
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(Title);
    setFont(fonts::msSansSerif());
    setModal(true);
    // A fixed frame: the window is as large as its contents.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblName = new QLabel(this);
    lblName->setObjectName(QStringLiteral("lblName"));
    lblName->setTextFormat(Qt::PlainText);
    QFont bold = font();
    bold.setBold(true);
    lblName->setFont(bold);

    Preview = new QLabel(this);
    Preview->setObjectName(QStringLiteral("Preview"));
    Preview->setFixedSize(PreviewSize);
    Preview->setAlignment(Qt::AlignCenter);
    Preview->setFrameShape(QFrame::Panel);
    Preview->setFrameShadow(QFrame::Sunken);
    Preview->setAccessibleName(QStringLiteral("Просмотр"));
    lblFrames = new QLabel(this);
    lblFrames->setObjectName(QStringLiteral("lblFrames"));

    auto *kinds = new QGroupBox(QStringLiteral("Что это?"), this);
    kinds->setObjectName(QStringLiteral("fraKind"));
    optCharacter = new QRadioButton(QStringLiteral("&персонаж"), kinds);
    optCharacter->setObjectName(QStringLiteral("optCharacter"));
    optProp = new QRadioButton(QStringLiteral("пр&едмет"), kinds);
    optProp->setObjectName(QStringLiteral("optProp"));
    optBackground = new QRadioButton(QStringLiteral("&фон"), kinds);
    optBackground->setObjectName(QStringLiteral("optBackground"));
    auto *kindBox = new QVBoxLayout(kinds);
    kindBox->addWidget(optCharacter);
    kindBox->addWidget(optProp);
    kindBox->addWidget(optBackground);

    lblRate = new QLabel(QStringLiteral("Кадров в &секунду:"), this);
    lblRate->setObjectName(QStringLiteral("lblRate"));
    spnRate = spin(this, "spnRate", 1, 24, 12);
    lblRate->setBuddy(spnRate);
    lblGrid = new QLabel(QStringLiteral("Лист кадров, столбцов и строк:"), this);
    lblGrid->setObjectName(QStringLiteral("lblGrid"));
    lblGrid->setWordWrap(true);
    fraGrid = new QWidget(this);
    fraGrid->setObjectName(QStringLiteral("fraGrid"));
    spnColumns = spin(fraGrid, "spnColumns", 1, 64, 1);
    spnColumns->setAccessibleName(QStringLiteral("Столбцов"));
    spnRows = spin(fraGrid, "spnRows", 1, 64, 1);
    spnRows->setAccessibleName(QStringLiteral("Строк"));
    lblScaled = new QLabel(this);
    lblScaled->setObjectName(QStringLiteral("lblScaled"));
    lblScaled->setWordWrap(true);
    chkKeepSize = new QCheckBox(QStringLiteral("Оставить &исходный размер"), this);
    chkKeepSize->setObjectName(QStringLiteral("chkKeepSize"));

    cmdAdd = new QPushButton(QStringLiteral("&Добавить"), this);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd->setDefault(true);
    cmdSkip = new QPushButton(QStringLiteral("Пр&опустить"), this);
    cmdSkip->setObjectName(QStringLiteral("cmdSkip"));
    cmdSkip->setAutoDefault(false);
    cmdCancel = new QPushButton(QStringLiteral("Отмена"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);

    auto *rateRow = new QHBoxLayout;
    rateRow->addWidget(lblRate);
    rateRow->addWidget(spnRate);
    rateRow->addStretch();
    auto *gridRow = new QHBoxLayout(fraGrid);
    gridRow->setContentsMargins(0, 0, 0, 0);
    gridRow->addWidget(spnColumns);
    gridRow->addWidget(new QLabel(QStringLiteral("×"), fraGrid));
    gridRow->addWidget(spnRows);
    gridRow->addStretch();
    auto *right = new QVBoxLayout;
    right->addWidget(kinds);
    right->addLayout(rateRow);
    right->addWidget(lblGrid);
    right->addWidget(fraGrid);
    right->addWidget(lblScaled);
    right->addWidget(chkKeepSize);
    right->addStretch();
    auto *left = new QVBoxLayout;
    left->addWidget(Preview);
    left->addWidget(lblFrames);
    auto *middle = new QHBoxLayout;
    middle->addLayout(left);
    middle->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdSkip);
    buttons->addWidget(cmdCancel);
    auto *all = new QVBoxLayout(this);
    all->addWidget(lblName);
    all->addLayout(middle);
    all->addLayout(buttons);
    all->setSizeConstraint(QLayout::SetFixedSize);
    // Wide enough for the longest line, so that the window keeps its size from one candidate to the next.
    lblScaled->setFixedWidth(230);

    for (QRadioButton *b : {optCharacter, optProp, optBackground})
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                updateControls();
                requestPreview();
            }
        });
    for (QSpinBox *s : {spnColumns, spnRows, spnRate})
        connect(s, &QSpinBox::valueChanged, this, [this] {
            updateControls();
            requestPreview();
        });
    connect(chkKeepSize, &QCheckBox::toggled, this, [this] { updateControls(); });
    connect(cmdAdd, &QPushButton::clicked, this, &frmImport::addCurrent);
    connect(cmdSkip, &QPushButton::clicked, this, &frmImport::next);
    connect(cmdCancel, &QPushButton::clicked, this, &frmImport::reject);

    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &frmImport::startPreview);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(PreviewTimeoutMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] { previewTimedOut(m_generation); });
    m_play.setSingleShot(true);
    connect(&m_play, &QTimer::timeout, this, &frmImport::nextFrame);

    showCandidate(0);
}

frmImport::~frmImport()
{
    if (m_cancel)
        *m_cancel = true;
}

Options frmImport::options() const
{
    Options o;
    o.kind = optCharacter->isChecked() ? Kind::Character : optBackground->isChecked() ? Kind::Background : Kind::Prop;
    o.rate = spnRate->value();
    // A grid is only asked of a single still picture becoming a character.
    if (spnColumns->isVisibleTo(this)) {
        o.columns = spnColumns->value();
        o.rows = spnRows->value();
    }
    o.keepSize = chkKeepSize->isVisibleTo(this) && chkKeepSize->isChecked();
    return o;
}

void frmImport::showCandidate(int index)
{
    m_index = index;
    const Candidate &c = m_candidates.at(index);
    QString name = QStringLiteral("«%1»").arg(c.name);
    if (c.series)
        name += QStringLiteral(": ") + pictures(c.files.size());
    if (m_candidates.size() > 1)
        name += QStringLiteral("  (%1 из %2)").arg(index + 1).arg(m_candidates.size());
    lblName->setText(name);
    setAccessibleDescription(name);
    {
        // The guess and the defaults, without a preview for each control set.
        const QSignalBlocker a(optCharacter), b(optProp), d(optBackground), e(spnColumns), f(spnRows), g(spnRate);
        (c.guess == Kind::Character ? optCharacter : c.guess == Kind::Background ? optBackground : optProp)
            ->setChecked(true);
        spnColumns->setValue(1);
        spnRows->setValue(1);
        spnRate->setValue(12);
        chkKeepSize->setChecked(false);
    }
    cmdSkip->setVisible(index + 1 < m_candidates.size());
    updateControls();
    cmdAdd->setFocus();
    startPreview();
}

void frmImport::updateControls()
{
    const Candidate &c = m_candidates.at(m_index);
    const bool character = optCharacter->isChecked();
    const bool sheet = character && !c.series && !c.animated;
    lblGrid->setVisible(sheet);
    fraGrid->setVisible(sheet);
    const bool cut = sheet && spnColumns->value() * spnRows->value() > 1;
    lblRate->setVisible(c.series || cut);
    spnRate->setVisible(c.series || cut);

    const Options o = options();
    // A sheet's frames are what is scaled, not the sheet.
    const QSize frame(c.size.width() / std::max(1, o.columns), c.size.height() / std::max(1, o.rows));
    const bool scaled = frame.isValid() && isScaledDown(frame, o.kind);
    lblScaled->setVisible(scaled);
    chkKeepSize->setVisible(scaled);
    if (scaled) {
        const QSize to = importedSize(frame, o.kind, false);
        lblScaled->setText(QStringLiteral("Картинка (%1 × %2) больше сцены: она будет уменьшена до %3 × %4.")
                               .arg(frame.width())
                               .arg(frame.height())
                               .arg(to.width())
                               .arg(to.height()));
    }
}

void frmImport::requestPreview()
{
    m_settle.start();
}

void frmImport::startPreview()
{
    m_settle.stop();
    if (m_cancel)
        *m_cancel = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const int generation = ++m_generation;
    m_play.stop();
    m_frames.clear();
    m_delays.clear();
    m_previewReady = false;
    Preview->setPixmap(QPixmap());
    Preview->setText(QStringLiteral("Загрузка…"));
    lblFrames->clear();

    // The preview is never written: it is made at the scaled size whatever the box says, which is cheaper.
    Options o = options();
    o.keepSize = false;
    QPointer<frmImport> self(this);
    try {
        std::thread([self, generation, candidate = m_candidates.at(m_index), o, cancel = m_cancel] {
            Frames frames;
            try {
                frames = makeFrames(candidate, o, cancel.get());
                for (QImage &image : frames.images)
                    if (!*cancel)
                        image = onChecks(image);
            } catch (...) {
                frames.error = QStringLiteral("«%1»: не хватило памяти").arg(candidate.name);
            }
            if (*cancel)
                return;
            // Posted to the application, which outlives the window; the window is looked for there.
            QMetaObject::invokeMethod(qApp, [self, generation, frames = std::move(frames)] {
                if (self)
                    self->receivePreview(generation, frames);
            }, Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &) {
        receivePreview(generation, Frames{{}, {}, QStringLiteral("не удалось начать чтение")});
        return;
    }
    m_deadline.start();
}

void frmImport::receivePreview(int generation, const Frames &frames)
{
    if (generation != m_generation)
        return;
    m_deadline.stop();
    m_previewReady = true;
    if (!frames.error.isEmpty() || frames.images.isEmpty()) {
        Preview->setText(QStringLiteral("Не удалось показать:\n") +
                         (frames.error.isEmpty() ? QStringLiteral("нет кадров") : frames.error));
        Preview->setWordWrap(true);
        emit previewShown();
        return;
    }
    m_frames = frames.images;
    m_delays = frames.delaysMs;
    lblFrames->setText(QStringLiteral("Кадров: %1").arg(m_frames.size()));
    m_frame = -1;
    nextFrame();
    emit previewShown();
}

void frmImport::previewTimedOut(int generation)
{
    if (generation != m_generation || m_previewReady)
        return;
    *m_cancel = true;
    ++m_generation;
    receivePreview(m_generation, Frames{{}, {}, QStringLiteral("картинка читается слишком долго")});
}

void frmImport::nextFrame()
{
    if (m_frames.isEmpty())
        return;
    m_frame = (m_frame + 1) % int(m_frames.size());
    Preview->setPixmap(QPixmap::fromImage(m_frames.at(m_frame)));
    if (m_frames.size() > 1)
        m_play.start(std::max(20, m_delays.value(m_frame, 100)));
}

void frmImport::addCurrent()
{
    if (m_writing)
        return;
    m_writing = true;
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Candidate candidate = m_candidates.at(m_index);
    const Options o = options();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    const QString library = m_library;
    // The window keeps repainting while the file is written; a write that does not end in time is given up.
    const std::optional<Written> written = files::runWithDeadline<Written>(
        [candidate, o, library, cancel] { return importInto(candidate, o, library, cancel.get()); }, WriteTimeoutMs);
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    m_writing = false;
    if (!written)
        *cancel = true;
    if (written && !written->path.isEmpty()) {
        m_imported.append({written->path, o.kind});
    } else {
        const QString why = written ? written->error
                                    : QStringLiteral("«%1»: запись длилась слишком долго").arg(candidate.name);
        if (m_message)
            m_message(this, {QStringLiteral("Не удалось добавить в библиотеку.\n\n") + why, Title.trimmed(),
                             controls::MsgIcon::Error, controls::MsgButtons::Ok});
    }
    next();
}

void frmImport::next()
{
    if (m_index + 1 < m_candidates.size())
        showCandidate(m_index + 1);
    else
        accept();
}

void frmImport::reject()
{
    // Escape and the close box also land here; nothing can be stopped halfway while a file is written.
    if (m_writing)
        return;
    m_play.stop();
    if (m_cancel)
        *m_cancel = true;
    QDialog::reject();
}

QList<Imported> importFiles(QWidget *parent, const QStringList &paths, const QString &libraryFolder,
                            const controls::MessageFn &message)
{
    QList<Candidate> usable;
    QStringList refused;
    // Sorting reads every chosen file's header: beside the window, which keeps painting, and bounded, since a
    // folder on a stalled share must not hold the program.
    const std::optional<QList<Candidate>> found =
        files::runWithDeadline<QList<Candidate>>([paths] { return candidatesFor(paths); });
    if (!found) {
        message(parent, {QStringLiteral("Выбранные файлы не удалось прочитать: чтение длилось слишком долго."),
                         Title.trimmed(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
        return {};
    }
    for (const Candidate &c : *found) {
        if (c.problem.isEmpty())
            usable << c;
        else
            refused << QStringLiteral("«%1»: %2").arg(c.files.isEmpty() ? c.name : QFileInfo(c.files.first()).fileName(),
                                                      c.problem);
    }
    if (!refused.isEmpty())
        message(parent, {QStringLiteral("Эти файлы нельзя добавить в библиотеку:\n\n") + refused.join(QLatin1Char('\n')),
                         Title.trimmed(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
    if (usable.isEmpty())
        return {};
    frmImport window(usable, libraryFolder, message, parent);
    window.exec();
    return window.imported();
}

QStringList droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

} // namespace importing
