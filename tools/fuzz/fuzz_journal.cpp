// Feeds arbitrary bytes to recovery as a journal left over from a crash: the
// records are parsed, replayed into a slide buffer, and every slide is read.
#include <QByteArray>
#include <QCoreApplication>

#include "slides/Journal.h"
#include "slides/SlideBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_journal";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const slides::journal::Parsed parsed = slides::journal::parse(bytes);
    if (parsed.status != slides::journal::Parsed::Ok)
        return 0;
    slides::SlideBuffer buffer;
    buffer.replay(parsed.records);
    for (int i = 1; i <= buffer.count(); ++i)
        buffer.store().slide(i);
    return 0;
}
