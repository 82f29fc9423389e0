#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QTimer;

// Progress of a transfer drawn as a round water tank: a dark disc with a
// spinning dashed ring, water rising with the value and the percentage in
// the middle. At the maximum the ring stops and the result picture (if one
// was set) replaces the water.
class ZoRoundWaterProgressBar : public QWidget
{
    Q_OBJECT

public:
    explicit ZoRoundWaterProgressBar(QWidget *parent = nullptr);

    void setRange(int minimum, int maximum);
    void setValue(int value);
    void setResult(bool ok);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int value() const { return m_value; }
    int ringAngle() const { return m_ringAngle; }
    QString resultPicture() const { return m_resultPicture; }

public slots:
    void onUpdateRingWave();

    // Whether the ring is being turned: only while it can be seen moving.
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void drawBackground(QPainter &painter);
    void drawWater(QPainter &painter);
    void drawText(QPainter &painter);
    bool finished() const { return m_value == m_maximum; }
    void updateTicking();
    // Share of the range reached, 0..1; 0 for an empty range.
    double fraction() const;

    int m_minimum = 0;
    int m_maximum = 100;
    int m_value = 0;
    double m_borderWidth = 3.0;
    double m_waveOffset = 0.6;
    double m_waveAmplitude = 0.05;
    QColor m_ringColor {255, 97, 0};
    QColor m_backgroundColor {41, 36, 33};
    QColor m_waterColor {0, 201, 87};
    int m_ringAngle = 0;
    QString m_resultPicture;
    QTimer *m_timer = nullptr;
};
