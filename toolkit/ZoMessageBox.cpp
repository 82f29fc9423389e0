#include "ZoMessageBox.h"

#include "ZoFramelessHelper.h"
#include "ZoTitleBar.h"

#include <QAbstractButton>
#include <QDebug>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kDefaultPicture = QStringLiteral(":/toolkit/resource/msgbox/korvelhalden.png");
const QString kInformationPicture = QStringLiteral(":/toolkit/resource/msgbox/informationblue.png");
const QString kQuestionPicture = QStringLiteral(":/toolkit/resource/msgbox/questionblue.png");
const QString kWarningPicture = QStringLiteral(":/toolkit/resource/msgbox/warningyellow.png");

const QMessageBox::StandardButton kCaptioned[]
    = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel};

ZoMessageBox::Responder s_responder;
QList<ZoMessageBox::Request> s_shown;

// Desktop styles that put icons on dialog buttons (a green tick beside
// "OK") give them the platform's stock pictures, which clash with the boxes'
// own look: the buttons carry their captions only. The button box sets the
// icons once, as it creates its buttons.
void textOnly(const QList<QAbstractButton *> &buttons)
{
    for (QAbstractButton *b : buttons)
        b->setIcon(QIcon());
}

QString buttonRule(const char *selector, int pointSize)
{
    return QStringLiteral("%1{border:1px solid black;border-radius:5px;"
                          "background-color:#088DF2;font-family:\"微软雅黑\";"
                          "font-size:%2pt;color:white;}")
        .arg(QLatin1String(selector))
        .arg(pointSize);
}
}

ZoMessageBox::ZoMessageBox(QWidget *parent, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
    : ZoCustomDialog(false, 0, parent)
    , m_buttonBox(new QDialogButtonBox(QDialogButtonBox::StandardButtons(int(buttons)), this))
    , m_iconLabel(new QLabel(this))
    , m_textLabel(new QLabel(this))
    , m_gridLayout(nullptr)
    , m_buttonStyle(buttonRule("QPushButton", 10) + buttonRule("QPushButton:hover", 12)
          + buttonRule("QPushButton:pressed", 9))
{
    setWindowTitle(title);
    setMinimumSize(300, 100);
    framelessHelper()->setResizable(false);
    titleBar()->setMinimizeVisible(false);
    titleBar()->setMaximizeVisible(false);

    // Only the requested default may answer Enter: left to itself the
    // dialog would promote the first button it finds, and a stray Enter
    // must not consent to anything.
    for (QAbstractButton *b : m_buttonBox->buttons()) {
        if (auto *push = qobject_cast<QPushButton *>(b))
            push->setAutoDefault(false);
    }
    textOnly(m_buttonBox->buttons());
    if (auto *push = qobject_cast<QPushButton *>(button(defaultButton))) {
        m_defaultButton = push;
        push->setDefault(true);
        push->setFocus();
    } else {
        // Keeps the keyboard focus off every button.
        setFocus();
    }

    if (QAbstractButton *yes = button(QMessageBox::Yes)) {
        yes->setObjectName(QStringLiteral("blueButton"));
        yes->setMinimumSize(80, 25);
        yes->setStyleSheet(m_buttonStyle);
    }

    m_iconLabel->setFixedSize(35, 35);
    m_iconLabel->setScaledContents(true);
    setIconPixmap(kDefaultPicture);

    m_textLabel->setObjectName(QStringLiteral("messageTextLabel"));
    m_textLabel->setText(text);
    m_textLabel->setWordWrap(true);
    m_textLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_textLabel->setOpenExternalLinks(true);
    m_textLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
    // Selecting text must not pull the focus away from the default button.
    m_textLabel->setFocusPolicy(Qt::NoFocus);

    auto *body = new QWidget(this);
    m_gridLayout = new QGridLayout(body);
    m_gridLayout->addWidget(m_iconLabel, 0, 0, 2, 1, Qt::AlignTop);
    m_gridLayout->addWidget(m_textLabel, 0, 1, 2, 1);
    m_gridLayout->addWidget(
        m_buttonBox, m_gridLayout->rowCount(), 0, 1, m_gridLayout->columnCount());
    m_gridLayout->setHorizontalSpacing(10);
    m_gridLayout->setVerticalSpacing(10);
    m_gridLayout->setContentsMargins(10, 10, 10, 10);
    m_gridLayout->setSizeConstraint(QLayout::SetNoConstraint);
    contentLayout()->addWidget(body);

    retranslate();
    connect(m_buttonBox, &QDialogButtonBox::clicked, this, &ZoMessageBox::onButtonClicked);
}

QAbstractButton *ZoMessageBox::button(QMessageBox::StandardButton which) const
{
    if (which == QMessageBox::NoButton)
        return nullptr;
    return m_buttonBox->button(QDialogButtonBox::StandardButton(int(which)));
}

void ZoMessageBox::setButtonText(QMessageBox::StandardButton which, const QString &text)
{
    if (QAbstractButton *b = button(which))
        b->setText(text);
}

void ZoMessageBox::setIconPixmap(const QString &path)
{
    // A missing picture leaves the label empty rather than showing a
    // broken image.
    const QPixmap picture(path);
    if (picture.isNull())
        m_iconLabel->clear();
    else
        m_iconLabel->setPixmap(picture);
}

QMessageBox::StandardButton ZoMessageBox::standardClickedButton() const
{
    if (!m_clickedButton)
        return QMessageBox::NoButton;
    return QMessageBox::StandardButton(int(m_buttonBox->standardButton(m_clickedButton)));
}

void ZoMessageBox::onButtonClicked(QAbstractButton *button)
{
    m_clickedButton = button;
    done(int(m_buttonBox->standardButton(button)));
}

void ZoMessageBox::retranslate()
{
    const char *const keys[]
        = {QT_TR_NOOP("BtnYes"), QT_TR_NOOP("BtnNo"), QT_TR_NOOP("BtnOk"), QT_TR_NOOP("BtnCancel")};
    for (int i = 0; i < 4; ++i) {
        if (QAbstractButton *b = button(kCaptioned[i])) {
            b->setText(tr(keys[i]));
            b->setMinimumSize(80, 25);
            b->setStyleSheet(m_buttonStyle);
        }
    }
}

bool ZoMessageBox::event(QEvent *event)
{
    const bool handled = ZoCustomDialog::event(event);
    // The button box resets its standard captions when the language
    // changes, and it hears of the change after the box itself: set the
    // keyed captions once it has.
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    return handled;
}

void ZoMessageBox::showEvent(QShowEvent *event)
{
    ZoCustomDialog::showEvent(event);
    // On its first show the button box promotes its first accepting button
    // to default; a box whose requested default is absent has none.
    if (!m_defaultButton) {
        for (QAbstractButton *b : m_buttonBox->buttons()) {
            if (auto *push = qobject_cast<QPushButton *>(b))
                push->setDefault(false);
        }
    }
}

ZoMessageBox::Request ZoMessageBox::request(QMessageBox::Icon icon) const
{
    Request r;
    r.title = windowTitle();
    r.text = m_textLabel->text();
    r.buttons = QMessageBox::StandardButtons(int(m_buttonBox->standardButtons()));
    if (m_defaultButton)
        r.defaultButton
            = QMessageBox::StandardButton(int(m_buttonBox->standardButton(m_defaultButton)));
    r.icon = icon;
    for (QAbstractButton *b : m_buttonBox->buttons())
        r.captions.insert(
            QMessageBox::StandardButton(int(m_buttonBox->standardButton(b))), b->text());
    return r;
}

QMessageBox::StandardButton ZoMessageBox::run(ZoMessageBox &box, QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Information:
        box.setIconPixmap(kInformationPicture);
        break;
    case QMessageBox::Question:
        box.setIconPixmap(kQuestionPicture);
        break;
    case QMessageBox::Warning:
        box.setIconPixmap(kWarningPicture);
        break;
    default:
        break;
    }

    if (s_responder) {
        box.show();
        const Request request = box.request(icon);
        s_shown.append(request);
        const int answer = s_responder(request);
        QAbstractButton *pressed = nullptr;
        if (answer != QMessageBox::NoButton) {
            pressed = box.button(QMessageBox::StandardButton(answer));
            if (!pressed)
                qWarning() << "ZoMessageBox::run() - answer" << answer
                           << "is not a button of the box; closing it instead";
        }
        // Through the real controls, as a user would answer.
        if (pressed)
            pressed->click();
        else
            box.titleBar()->closeButton()->click();
        box.hide();
        return box.standardClickedButton();
    }

    if (box.exec() == -1)
        return QMessageBox::Cancel;
    return box.standardClickedButton();
}

QMessageBox::StandardButton ZoMessageBox::information(QWidget *parent, const QString &title,
    const QString &text, QMessageBox::StandardButtons buttons)
{
    ZoMessageBox box(parent, title, text, buttons, QMessageBox::Ok);
    return run(box, QMessageBox::Information);
}

QMessageBox::StandardButton ZoMessageBox::question(QWidget *parent, const QString &title,
    const QString &text, QMessageBox::StandardButton defaultButton, const QString &yesText,
    const QString &noText)
{
    ZoMessageBox box(parent, title, text, QMessageBox::Yes | QMessageBox::No, defaultButton);
    if (!yesText.isEmpty())
        box.setButtonText(QMessageBox::Yes, yesText);
    if (!noText.isEmpty())
        box.setButtonText(QMessageBox::No, noText);
    return run(box, QMessageBox::Question);
}

QMessageBox::StandardButton ZoMessageBox::question(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setWindowFlags(box.windowFlags() | Qt::MSWindowsFixedSizeDialogHint);
    textOnly(box.buttons());
    box.button(QMessageBox::Yes)->setText(tr("LabYes"));
    box.button(QMessageBox::No)->setText(tr("LabNo"));

    if (s_responder) {
        box.show();
        Request request;
        request.title = title;
        request.text = text;
        request.buttons = QMessageBox::Yes | QMessageBox::No;
        request.icon = QMessageBox::Question;
        request.captions.insert(QMessageBox::Yes, box.button(QMessageBox::Yes)->text());
        request.captions.insert(QMessageBox::No, box.button(QMessageBox::No)->text());
        s_shown.append(request);
        const int answer = s_responder(request);
        QAbstractButton *pressed = box.button(QMessageBox::StandardButton(answer));
        if (pressed)
            pressed->click();
        box.hide();
        return pressed ? QMessageBox::StandardButton(answer) : QMessageBox::NoButton;
    }
    const int result = box.exec();
    return result == -1 ? QMessageBox::Cancel : QMessageBox::StandardButton(result);
}

QMessageBox::StandardButton ZoMessageBox::warning(QWidget *parent, const QString &title,
    const QString &text, QMessageBox::StandardButtons buttons,
    QMessageBox::StandardButton defaultButton)
{
    ZoMessageBox box(parent, title, text, buttons, defaultButton);
    return run(box, QMessageBox::Warning);
}

QMessageBox::StandardButton ZoMessageBox::showBox(ZoMessageBox &box, QMessageBox::Icon icon)
{
    return run(box, icon);
}

void ZoMessageBox::setTestResponder(Responder responder)
{
    s_responder = std::move(responder);
}

QList<ZoMessageBox::Request> ZoMessageBox::shownRequests()
{
    return s_shown;
}

void ZoMessageBox::clearShownRequests()
{
    s_shown.clear();
}
