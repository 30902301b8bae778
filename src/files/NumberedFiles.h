#pragma once
// Files of a folder named by a number alone, such as the "001.bmp",
// "002.bmp", ... "1000.bmp" that saving slides writes.

#include <QString>
#include <QStringList>

#include <vector>

namespace files {

struct NumberedFile {
    int number;
    QString path;
};

// The files of `folder` named by digits followed by one of `extensions`
// (without dots, any case), in numeric order: "1000.bmp" after "999.bmp".
// Where two share a number ("7.bmp" and "007.png"), both are listed.
// `special` lists FIFOs, devices and sockets under such names too, for a
// caller that reads them safely and tells the user it left them out.
std::vector<NumberedFile> numberedFiles(const QString &folder, const QStringList &extensions, bool special = false);

// The first number missing from 1 .. the last one listed; 0 when none is.
int firstGap(const std::vector<NumberedFile> &files);

} // namespace files
