// birdtool: builds BIRD firmware files from a plain description and shows what one holds.
#include <cstdio>
#include <cstring>
#include <string>

#include "BirdDescription.h"
#include "BirdShow.h"
#include "Log.h"

namespace {

int usage() {
    fprintf(stderr,
            "usage: birdtool build DESCRIPTION OUTPUT.bird\n"
            "       birdtool show [--log] FILE.bird\n");
    return 2;
}

int build(const char* description, const char* output) {
    BirdWriter writer;
    std::string error;
    if (!BirdDescription_Read(description, writer, error)) {
        fprintf(stderr, "birdtool: %s\n", error.c_str());
        return 1;
    }
    if (!writer.WriteTo(output)) {
        fprintf(stderr, "birdtool: cannot write %s\n", output);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "build") == 0) {
        return build(argv[2], argv[3]);
    }
    if (argc == 3 && strcmp(argv[1], "show") == 0) {
        return BirdShow_Print(argv[2], stdout, stderr);
    }
    if (argc == 4 && strcmp(argv[1], "show") == 0 && strcmp(argv[2], "--log") == 0) {
        // The reader's own parse log, for looking into malformed files.
        Log::SetOutput(stderr);
        Log::ActivatePackage(DEBUG_BirdFile);
        return BirdShow_Print(argv[3], stdout, stderr);
    }
    return usage();
}
