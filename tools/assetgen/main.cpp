// Asset generator: draws every picture the program ships with — the stage
// background, the start animation, the icons and the sample library of
// characters, things and backgrounds — from code, the same on every run.
// Usage: assetgen <repository root>

#include "characters.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: assetgen <repository root>\n");
        return 2;
    }
    const QString root = QDir(args.at(1)).absolutePath();
    if (!QDir(root).exists()) {
        std::fprintf(stderr, "assetgen: no folder %s\n", qPrintable(root));
        return 2;
    }
    assetgen::makeScenes(root);
    assetgen::makeBadges(root);
    assetgen::makeCharacters(root);
    assetgen::makeArticles(root);
    std::printf("assets written under %s\n", qPrintable(root));
    return 0;
}
