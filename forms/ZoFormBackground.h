#pragma once

#include <QPixmap>

class QWidget;

// The body of a selection form: its background picture stretched over the
// whole form, or, while the picture is missing, a dark rounded panel that
// the form's white texts still read on.
class ZoFormBackground
{
public:
    static void paint(QWidget *form, const QPixmap &background);
};
