// Feeds arbitrary bytes to the GIF decoder that characters and props are read with.
#include <QByteArray>

#include "anigif/GifDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    anigif::DecodedGif gif;
    anigif::decodeGif(bytes, &gif);
    return 0;
}
