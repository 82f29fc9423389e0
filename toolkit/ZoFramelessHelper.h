#pragma once

#include <QHash>
#include <QObject>

class QWidget;

// Lets the user move a frameless window by its title area and resize it by
// its edges, with fitting cursors. The window may keep an invisible margin
// (a shadow) around its visible part; edges and drag positions are measured
// on the visible part.
class ZoFramelessHelper : public QObject
{
    Q_OBJECT

public:
    explicit ZoFramelessHelper(QObject *parent = nullptr);
    ~ZoFramelessHelper() override;

    // contentWidget carries the shadow margin as its contents margins; it
    // may be null.
    void attach(QWidget *window, QWidget *contentWidget);

    void setMargin(int margin);
    void setMovable(bool movable);
    void setResizable(bool resizable);
    void setMoveRubberBand(bool on);
    void setResizeRubberBand(bool on);

    bool isMovable() const { return m_movable; }
    bool isResizable() const { return m_resizable; }

    // Shared by every helper of the process.
    static int borderWidth();
    static int titleHeight();

public slots:
    // 0 keeps the current height.
    void setTitleHeight(int height);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class WindowData;

    void updateRubberBands();

    QHash<QObject *, WindowData *> m_windows;
    int m_margin = 0;
    bool m_movable = true;
    bool m_resizable = true;
    bool m_moveRubberBand = false;
    bool m_resizeRubberBand = false;
};
