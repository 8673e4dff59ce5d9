#include "app/CAboutDlg.h"

#ifndef OSTREL_VERSION
#error "OSTREL_VERSION must be defined by the build"
#endif

std::string CAboutDlg::programLine() {
    return std::string("Ostrel programmer, version ") + OSTREL_VERSION;
}
