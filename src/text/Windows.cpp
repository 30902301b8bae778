#include "text/Caption.h"
namespace text {
bool editCaption(QWidget *, const controls::MessageFn &, Caption &) { return false; }
bool editTitleCard(QWidget *, const controls::MessageFn &, TitleCard &, QSize) { return false; }
}
