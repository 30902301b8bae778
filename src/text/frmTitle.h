#pragma once
// "Титр": the words of a title card and its background, one colour or a
// gradient from top to bottom, previewed as the whole stage shrunk.

#include <QDialog>

#include "text/Caption.h"

class QLabel;
class QTimer;
namespace controls {
class Button;
}

namespace text {

class ColourButton;
class LetteringFields;

class frmTitle : public QDialog {
    Q_OBJECT
public:
    frmTitle(const controls::MessageFn &message, const TitleCard &start, QSize stage, QWidget *parent = nullptr);

    TitleCard card() const;

    LetteringFields *letters;
    ColourButton *top;    // the background at the top edge
    ColourButton *bottom; // and at the bottom; equal to the top: one plain colour
    QLabel *preview;
    controls::Button *ok;
    controls::Button *cancel;

    void tryAccept();

private:
    void showPreview();

    controls::MessageFn m_message;
    QSize m_stage;
    QTimer *m_redraw;
};

} // namespace text
