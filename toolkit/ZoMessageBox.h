#pragma once

#include "ZoCustomDialog.h"

#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QString>

#include <functional>

class QAbstractButton;
class QDialogButtonBox;
class QGridLayout;
class QLabel;

// The application's modal message box: the frameless dialog with an icon,
// a word-wrapped text and translated standard buttons. Use the static
// operations; in a question only Yes counts as consent.
class ZoMessageBox : public ZoCustomDialog
{
    Q_OBJECT

public:
    // What a box shown through the static operations asked.
    struct Request
    {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        // The box's effective default: NoButton when the requested one is
        // not among the buttons.
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMap<QMessageBox::StandardButton, QString> captions;
    };
    // Answers a box instead of the user: returns the standard button to
    // press, or NoButton to close the box through its title bar.
    using Responder = std::function<int(const Request &)>;

    ZoMessageBox(QWidget *parent, const QString &title, const QString &text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    static QMessageBox::StandardButton information(QWidget *parent, const QString &title,
        const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    // Empty captions keep the translated "Yes" and "No".
    static QMessageBox::StandardButton question(QWidget *parent, const QString &title,
        const QString &text, QMessageBox::StandardButton defaultButton = QMessageBox::No,
        const QString &yesText = QString(), const QString &noText = QString());
    static QMessageBox::StandardButton warning(QWidget *parent, const QString &title,
        const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The updater's lighter question: the platform's standard message box,
    // parentless and of fixed size, with the translated "Yes" and "No". The
    // test responder answers it like the others.
    static QMessageBox::StandardButton question(const QString &title, const QString &text);

    // Shows a box the caller has prepared (its own captions or button
    // styles) exactly as the static operations show theirs, with the icon's
    // picture and the test responder.
    static QMessageBox::StandardButton showBox(ZoMessageBox &box, QMessageBox::Icon icon);

    // While a responder is installed the static operations show the box
    // without a modal loop, record it and let the responder press a button.
    // An empty function removes it.
    static void setTestResponder(Responder responder);
    static QList<Request> shownRequests();
    static void clearShownRequests();

    QAbstractButton *button(QMessageBox::StandardButton which) const;
    void setButtonText(QMessageBox::StandardButton which, const QString &text);
    void setIconPixmap(const QString &path);

    // The button that closed the box, none when it was closed otherwise.
    QAbstractButton *clickedButton() const { return m_clickedButton; }
    QMessageBox::StandardButton standardClickedButton() const;

public slots:
    void onButtonClicked(QAbstractButton *button);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    static QMessageBox::StandardButton run(ZoMessageBox &box, QMessageBox::Icon icon);
    void retranslate();
    Request request(QMessageBox::Icon icon) const;

    QDialogButtonBox *m_buttonBox;
    QLabel *m_iconLabel;
    QLabel *m_textLabel;
    QGridLayout *m_gridLayout;
    QAbstractButton *m_clickedButton = nullptr;
    QAbstractButton *m_defaultButton = nullptr;
    QString m_buttonStyle;
};
