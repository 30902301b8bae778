#pragma once
// The parts the caption and title windows share: a button that shows a colour
// and asks for another, the controls of the letters' look, and the preview's
// backdrop.

#include <QPushButton>
#include <QWidget>

#include "text/Caption.h"

#include <functional>

#include "controls/Button.h"

class QBoxLayout;
class QComboBox;
class QDialog;
class QFormLayout;
class QLabel;
class QPlainTextEdit;
class QSpinBox;

namespace text {

// Shows its colour as a swatch; a click offers the colour dialog. setColour is
// what the dialog calls, so a test sets a colour through it without the dialog.
class ColourButton : public QPushButton {
    Q_OBJECT
public:
    ColourButton(const char *name, const QString &what, QWidget *parent);
    QColor colour() const { return m_colour; }
    void setColour(const QColor &colour);

signals:
    void colourChanged(const QColor &colour);

private:
    QString m_what; // the dialog's title: which colour is asked for
    QColor m_colour;
};

// The text and the look of its letters, laid out as rows of `form` (the text above it).
class LetteringFields : public QObject {
    Q_OBJECT
public:
    LetteringFields(QWidget *window, QFormLayout *form, const Lettering &start);
    Lettering value() const;

    QPlainTextEdit *text;
    QComboBox *font;
    QSpinBox *size;
    ColourButton *colour;
    ColourButton *outline;
    QSpinBox *outlineWidth;

signals:
    void changed();
};

// The window's layout: `form` on the left, a preview of `box`'s size on the right (named "preview", read
// out as `spoken`), and "ОК" (the default) and "Отмена" at the bottom right. "ОК", Ctrl+Enter and
// Ctrl+Return (from any control of the window, the text box too) call `accept`. Returns the preview.
QLabel *layOutWindow(QDialog *window, QFormLayout *form, QSize box, const QString &spoken, controls::Button *&ok,
                     controls::Button *&cancel, const std::function<void()> &accept);
// The text box has the focus with all of it chosen, and the window keeps its size in the middle of the screen.
void showReady(QDialog *window, LetteringFields *letters);

// False, after asking for it with `ask`, when the text has nothing but spaces; the text box then has the focus.
bool hasText(QWidget *window, const controls::MessageFn &message, QPlainTextEdit *text, const QString &ask);

// `picture` on a checkerboard filling `box`, shrunk to fit when larger (never enlarged).
QPixmap onCheckerboard(const QImage &picture, QSize box);

} // namespace text
