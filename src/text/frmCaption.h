#pragma once
// "Надпись": the words of a caption and the shape behind them, with a preview
// of what the stage will show. "ОК" (or Ctrl+Enter, even while typing) keeps
// them unless the text is empty; "Отмена" or Escape leaves the caption alone.

#include <QDialog>

#include "text/Caption.h"

class QComboBox;
class QLabel;
class QTimer;
namespace controls {
class Button;
}

namespace text {

class ColourButton;
class LetteringFields;

class frmCaption : public QDialog {
    Q_OBJECT
public:
    frmCaption(const controls::MessageFn &message, const Caption &start, QWidget *parent = nullptr);

    // The caption as the controls now give it.
    Caption caption() const;

    LetteringFields *letters; // text, font, size, colour, outline and its width
    QComboBox *shape;
    QComboBox *tail;          // enabled for the bubbles only
    ColourButton *fill;       // inside the shape
    ColourButton *border;     // the shape's line
    QLabel *preview;
    controls::Button *ok;     // "ОК"
    controls::Button *cancel; // "Отмена"

    // What "ОК" does: refuses an empty text with a message, else accepts.
    void tryAccept();

private:
    void showPreview();

    controls::MessageFn m_message;
    QTimer *m_redraw;
};

} // namespace text
