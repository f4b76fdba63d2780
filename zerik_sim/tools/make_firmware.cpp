// make_firmware FILE: writes the simulated DSPs' firmware image.
#include <iostream>

#include "coff_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_firmware FILE\n";
        return 2;
    }
    if (!zerik::coff::WriteFile(argv[1], zerik::coff::DefaultFirmware())) {
        std::cerr << "make_firmware: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
