// ostrelctl-manpage VERSION DATE OUTPUT: writes ostrelctl's manual page, for the build only.
#include <fstream>
#include <iostream>

#include "cli/commandline/CommandLine.h"
#include "cli/help/ManPage.h"

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::cerr << "usage: ostrelctl-manpage VERSION DATE OUTPUT\n";
        return 1;
    }
    const ctl::CommandLine line;
    std::ofstream out(argv[3], std::ios::binary);
    out << ctl::ostrelctlManPage(line.app, argv[1], argv[2]);
    out.close();
    if (!out) {
        std::cerr << "ostrelctl-manpage: cannot write " << argv[3] << '\n';
        return 1;
    }
    return 0;
}
