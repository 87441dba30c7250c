// tervane-cli: reads and writes the network settings of a supported printer
// attached by USB, over the same printer model as the settings window.
#include "cli.h"

int main(int argc, char** argv) { return tervane::runTervaneCli(argc, argv); }
