#pragma once

#include <QObject>
#include <QtGlobal>

// A form's child widget by its object name. A name the form does not have
// ends the test at once, naming it, instead of crashing on a null pointer.
template <typename T> T *zoChild(const QObject *form, const char *name)
{
    T *w = form->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}
