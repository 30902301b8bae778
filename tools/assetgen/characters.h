#pragma once
#include <QString>

namespace assetgen {
// Writes the animated characters into <root>/library/objects.
void makeCharacters(const QString &root);
// Writes the still things into <root>/library/articles.
void makeArticles(const QString &root);
// Writes the backgrounds: assets/background.jpg and <root>/library/fones.
void makeScenes(const QString &root);
// Writes the program's own pictures: assets/stage.gif and the icons.
void makeBadges(const QString &root);
} // namespace assetgen
