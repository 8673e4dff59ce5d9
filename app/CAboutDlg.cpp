#include "app/CAboutDlg.h"

#if !defined(OSTREL_VERSION) || !defined(OSTREL_LICENSE)
#error "OSTREL_VERSION and OSTREL_LICENSE must be defined by the build"
#endif

std::string CAboutDlg::programLine() {
    return std::string("Ostrel programmer, version ") + OSTREL_VERSION;
}

std::string CAboutDlg::descriptionLine() {
    return std::string("For the Ostrel power-supply controller.\nLicense: ") + OSTREL_LICENSE;
}
