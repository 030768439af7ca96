#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
    return nettlebeam::driver::runCommand(std::vector<std::string>(argv + 1, argv + argc));
}
