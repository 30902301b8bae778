// Feeds arbitrary bytes to the series reader as one file of a saved series,
// and reads back what it took.
#include <QByteArray>
#include <QGuiApplication>

#include "slides/SeriesReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_series";
    static char *argv[] = {name, nullptr};
    // The image readers are Qt's plugins, which need a GUI application (offscreen is enough).
    static const bool platform = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    (void)platform;
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    slides::SlideStore store;
    if (slides::addSlide(bytes, store) == slides::Added::Yes)
        store.slide(1);
    return 0;
}
