#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What the engine asks the user, and the answers it takes back. A view shows
// the question (id, text, buttons) in its own words and calls
// answer(id, button); the engine waits for it without a nested event loop.
// A not-found question's buttons stand for Retry (Yes), Add (No) and Cancel;
// the others' for Yes and No.
struct ZoEngineQuestions
{
    enum Question : int {
        QuestionNone = 0,
        QuestionNotFound, // Retry (Yes), Add (No, from the second time on), Cancel
        QuestionSameDevice, // "MsgPlsCheckIsSameDev" before a run after a reconnect
        QuestionCoreMismatch, // a core added by hand is not what answered
        QuestionForceAddCore, // a core added by hand did not answer
    };
    enum Button : int { ButtonNone = 0, ButtonYes, ButtonNo, ButtonCancel };
    using Buttons = QList<int>; // in the order they are offered
};
