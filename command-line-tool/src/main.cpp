#include "beamctl.h"

int main(int argc, char** argv) {
    return beamctlMain(argc, argv);
}
