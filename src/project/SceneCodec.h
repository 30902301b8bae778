#pragma once
// The scene as bytes, for the project file and the recovery journal. Pictures
// are not inside: each is named by its key (the SHA-256 of its bytes), and
// their bytes travel beside the scene, once each.

#include <QByteArray>
#include <QList>

#include "project/SceneSnapshot.h"

namespace project {

// The name of a picture's bytes; empty for no picture.
QByteArray pictureKey(const QByteArray &picture);

QByteArray encodeScene(const SceneSnapshot &scene);

// Reads an encoded scene into `scene`, its pictures left empty; their keys come back in `keys`, in the
// order of SceneSnapshot::pictures(). False when the bytes do not read as a whole scene, whatever they hold.
bool decodeScene(const QByteArray &data, SceneSnapshot &scene, QList<QByteArray> &keys);

} // namespace project
