#include "cli/main.h"

int main(int argc, char** argv) {
    return runCli(std::vector<std::string>(argv + 1, argv + argc));
}
