#include "pictureuser.h"

QImage pictureUserLoad(const QString &path)
{
    return QImage(path);
}
