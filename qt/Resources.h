// The program's pictures: icon 128 and bitmap 130.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qtui {

// Icon resource `id` with all its sizes; a null icon for an id the program does not have.
QIcon resourceIcon(int id);
// Bitmap resource `id`; a null pixmap for an id the program does not have.
QPixmap resourceBitmap(int id);

}  // namespace qtui
