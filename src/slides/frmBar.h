#pragma once
// The progress window of a save: each time it is shown it writes every
// slide as "001.bmp", "002.bmp", ... into the slide folder, then hides and
// says how it went.

#include <QDialog>

#include "controls/ProgressBar.h"

#include "app/AppState.h"
#include "slides/SlideStore.h"

class QLabel;

class frmBar : public QDialog {
    Q_OBJECT
public:
    frmBar(AppState &state, const slides::SlideStore &slides, QWidget *parent = nullptr);

    QLabel *Label1;              // "Идет сохранение слайдов. Ждите..."
    controls::ProgressBar *ProgressBar1;  // one step per file written

    // The writing loop; runs once per showing.
    void Form_Activate();

    // Whether the last writing loop wrote every slide.
    bool allWritten() const { return m_total > 0 && m_written == m_total; }

public slots:
    // Escape must not end the dialog half-way through the files.
    void reject() override {}

protected:
    void showEvent(QShowEvent *event) override;

private:
    AppState &m_state;
    const slides::SlideStore &m_slides;
    bool m_running = false;
    int m_written = 0;
    int m_total = 0;
    int m_error = 0; // the system's error number for the first file that failed
};
