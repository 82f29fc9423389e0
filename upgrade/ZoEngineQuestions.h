#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <utility>

// What the engine asks the user, and the answers it takes back. A view shows
// the question (id, text, buttons) in its own words and calls
// answer(id, button); the engine waits for it without a nested event loop:
// what it does with the answer waits here. Used on the engine's thread only.
// A not-found question's buttons stand for Retry (Yes), Add (No) and Cancel;
// the others' for Yes and No.
class ZoEngineQuestions
{
public:
    enum Question : int {
        QuestionNone = 0,
        QuestionNotFound, // Retry (Yes), Add (No, from the second time on), Cancel
        QuestionSameDevice, // "MsgPlsCheckIsSameDev" before a run after a reconnect
        QuestionCoreMismatch, // a core added by hand is not what answered
        QuestionForceAddCore, // a core added by hand did not answer
        QuestionRollBack, // take the latest run's devices back; the text names each
    };
    enum Button : int { ButtonNone = 0, ButtonYes, ButtonNo, ButtonCancel };
    using Buttons = QList<int>; // in the order they are offered
    using Answered = std::function<void(int button)>;

    int pendingQuestion() const { return m_question; }
    // The answer to the question asked last; a late answer to another is
    // ignored.
    void answer(int question, int button)
    {
        if (question == QuestionNone || question != m_question)
            return;
        m_question = QuestionNone;
        const Answered onAnswer = std::exchange(m_onAnswer, nullptr);
        if (onAnswer)
            onAnswer(button);
    }

protected:
    // `id` is now asked; `onAnswer` takes the button.
    void expect(Question id, Answered onAnswer)
    {
        m_question = id;
        m_onAnswer = std::move(onAnswer);
    }

private:
    int m_question = QuestionNone;
    Answered m_onAnswer;
};
