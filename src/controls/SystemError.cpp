#include "controls/SystemError.h"

#include <cerrno>
#include <cstring>

namespace controls {

QString systemReason(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("Нет места на устройстве");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("Превышена дисковая квота");
#endif
    case EFBIG:
        return QStringLiteral("Файл слишком велик");
    case EACCES:
        return QStringLiteral("Отказано в доступе");
    case EPERM:
        return QStringLiteral("Операция не позволена");
    case EROFS:
        return QStringLiteral("Файловая система доступна только для чтения");
    case ENOENT:
        return QStringLiteral("Нет такого файла или каталога");
    case ENOTDIR:
        return QStringLiteral("Это не каталог");
    case EISDIR:
        return QStringLiteral("Это каталог");
    case EIO:
        return QStringLiteral("Ошибка ввода-вывода");
    case ENOMEM:
        return QStringLiteral("Недостаточно памяти");
    case ENAMETOOLONG:
        return QStringLiteral("Слишком длинное имя файла");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace controls
