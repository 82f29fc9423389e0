#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QWidget>

// Events over time in lanes: one lane per subject, named at its left, a
// point per event at its time in the colour its caller gives, with a short
// label above it, and a time axis (UTC) along the bottom. It knows nothing of
// what the lanes stand for and decides nothing: what a point means is its
// caller's. Everything is laid out from the widget's size at each paint, so
// the picture follows the widget as it grows or shrinks; a label that would
// overlap its lane's previous one is left out, its point stays.
//
// A widget: lives on the GUI thread.
class ZoLaneTimeline : public QWidget
{
    Q_OBJECT

public:
    struct Point
    {
        QDateTime time;
        QString label;
        QColor colour;
    };
    struct Lane
    {
        QString name;
        QList<Point> points; // any order
    };

    explicit ZoLaneTimeline(QWidget *parent = nullptr);

    void setLanes(const QList<Lane> &lanes);
    const QList<Lane> &lanes() const { return m_lanes; }
    // The band lane `index` is drawn in, in widget coordinates; empty for
    // no such lane.
    QRect laneRect(int index) const;
    // Where the axis puts `time`, in widget coordinates.
    int xOf(const QDateTime &time) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // What a paint needs, worked out from the size and the lanes.
    struct Frame
    {
        QRect plot; // where the points go
        int nameWidth = 0;
        qint64 from = 0, to = 1; // ms since the epoch at plot's left and right edge
        int x(qint64 ms) const;
    };
    Frame frame() const;
    int laneHeight() const;
    int axisHeight() const;
    void paintAxis(QPainter &painter, const Frame &f) const;
    void paintLane(QPainter &painter, const Frame &f, int index) const;

    QList<Lane> m_lanes;
};
