// Plexcore: probes and converts media files for the Plexavo program.
#include "Entry.h"

int main(int argc, char** argv) {
    return plexavo::core::runCore(argc, argv);
}
