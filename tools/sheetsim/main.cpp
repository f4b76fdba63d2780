// sheetsim: runs the scanner's recognition of one sheet on a saved raw page file.
#include "sheetsim.h"

int main(int argc, char** argv) {
    return zerik::tools::sheetsimMain(argc, argv);
}
