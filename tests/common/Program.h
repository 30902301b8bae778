#pragma once
// A fresh program in a temporary program folder, with every message box
// answered by the test and the program's end recorded instead of carried out.

#include <QList>
#include <QListWidget>
#include <QTemporaryDir>

#include <memory>

#include "app/AppState.h"
#include "app/frmMain.h"

namespace testcommon {

struct Program {
    QTemporaryDir dir;
    AppState state;
    std::unique_ptr<frmMain> main;
    QList<controls::Message> messages;      // every message shown, in order
    QList<controls::MsgResult> answers;     // answers to give, in order; OK when none left
    int ended = 0;                          // how often the program was ended

    explicit Program(bool show = true) : Program(QString(), {}, show) {}

    // A program that keeps its recovery journal in `stateFolder` and gives
    // `firstAnswers` to the first message boxes, start-up's included.
    Program(const QString &stateFolder, QList<controls::MsgResult> firstAnswers, bool show = true)
        : answers(std::move(firstAnswers))
    {
        state.programFolder = dir.path();
        state.stateFolder = stateFolder;
        state.message = [this](QWidget *, const controls::Message &m) {
            messages << m;
            return answers.isEmpty() ? controls::MsgResult::Ok : answers.takeFirst();
        };
        state.endProgram = [this] { ++ended; };
        main = std::make_unique<frmMain>(state);
        if (show)
            main->show();
    }

    QString folder(const QString &relative) const { return dir.filePath(relative); }

    // The object list's entries, top to bottom.
    QStringList entries() const
    {
        QStringList out;
        for (int i = 0; i < main->List1->count(); ++i)
            out << main->List1->item(i)->text();
        return out;
    }
};

} // namespace testcommon
