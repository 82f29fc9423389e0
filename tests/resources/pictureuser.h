#pragma once

#include <QImage>
#include <QString>

// Loads a picture from inside a static library that links the toolkit
// pictures privately, as toolkit's message box does.
QImage pictureUserLoad(const QString &path);
