#include "app/CAboutDlg.h"

#if !defined(OSTREL_VERSION) || !defined(OSTREL_LICENSE) || !defined(OSTREL_HOMEPAGE)
#error "OSTREL_VERSION, OSTREL_LICENSE and OSTREL_HOMEPAGE must be defined by the build"
#endif

std::string CAboutDlg::programLine() {
    return std::string("Ostrel programmer, version ") + OSTREL_VERSION;
}

std::string CAboutDlg::descriptionLine() {
    return std::string("For the Ostrel power-supply controller.\nLicense: ") + OSTREL_LICENSE +
           "\n" + OSTREL_HOMEPAGE;
}
