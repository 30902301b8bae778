#include "importing/Import.h"

namespace importing {

QString folderName(Kind kind)
{
    switch (kind) {
    case Kind::Character:
        return QStringLiteral("objects");
    case Kind::Background:
        return QStringLiteral("fones");
    case Kind::Prop:
        break;
    }
    return QStringLiteral("articles");
}

} // namespace importing
