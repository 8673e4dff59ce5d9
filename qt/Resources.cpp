#include "qt/Resources.h"

#include "app/Resource.h"

// The resources live in a static library: register them before the first use, or the
// linker may leave their registration out.
static void initResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(ostrel);
        return true;
    }();
    (void)done;
}

namespace qtui {

QIcon resourceIcon(int id) {
    initResources();
    QIcon icon;
    if (id == IDR_MAINFRAME) {
        for (const int size : {16, 32, 48}) {
            icon.addFile(QStringLiteral(":/ostrel/icons/ostrel-%1.png").arg(size),
                         QSize(size, size));
        }
    }
    return icon;
}

QPixmap resourceBitmap(int id) {
    initResources();
    if (id == IDB_LOGO) {
        return QPixmap(QStringLiteral(":/ostrel/bitmaps/logo.png"));
    }
    return {};
}

}  // namespace qtui
