#include "files/NumberedFiles.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace files {

std::vector<NumberedFile> numberedFiles(const QString &folder, const QStringList &extensions, bool special)
{
    const QRegularExpression numbered(QStringLiteral("^([0-9]{1,9})\\.(%1)$").arg(extensions.join(QLatin1Char('|'))),
                                      QRegularExpression::CaseInsensitiveOption);
    const QDir dir(folder);
    std::vector<NumberedFile> found;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | (special ? QDir::System : QDir::Filters()))) {
        const auto m = numbered.match(name);
        if (m.hasMatch())
            found.push_back({m.captured(1).toInt(), dir.filePath(name)});
    }
    std::sort(found.begin(), found.end(), [](const NumberedFile &a, const NumberedFile &b) {
        return a.number != b.number ? a.number < b.number : a.path < b.path;
    });
    return found;
}

int firstGap(const std::vector<NumberedFile> &files)
{
    int expected = 1;
    for (const NumberedFile &f : files) {
        if (f.number > expected)
            return expected;
        expected = f.number + 1;
    }
    return 0;
}

} // namespace files
