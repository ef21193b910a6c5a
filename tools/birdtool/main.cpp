// birdtool: builds BIRD firmware files from a plain description and shows what one holds.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "BirdDescription.h"
#include "BirdShow.h"
#include "Log.h"

namespace {

// A wrong command line exits with this code, after the usage text.
const int USAGE_EXIT = 2;

int build(const std::string& description, const std::string& output) {
    BirdWriter writer;
    std::string error;
    if (!BirdDescription_Read(description, writer, error)) {
        fprintf(stderr, "birdtool: %s\n", error.c_str());
        return 1;
    }
    if (!writer.WriteTo(output)) {
        fprintf(stderr, "birdtool: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}

int show(const std::string& file, bool parseLog) {
    if (parseLog) {
        // The reader's own parse log, for looking into malformed files.
        Log::SetOutput(stderr);
        Log::ActivatePackage(DEBUG_BirdFile);
    }
    return BirdShow_Print(file.c_str(), stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Builds BIRD firmware files from a plain description and shows what one holds.",
                 "birdtool");
    app.require_subcommand(1);

    std::string description;
    std::string output;
    CLI::App* buildCommand =
        app.add_subcommand("build", "Write the file the description describes");
    buildCommand->add_option("DESCRIPTION", description, "The description file")->required();
    buildCommand->add_option("OUTPUT.bird", output, "The BIRD file to write")->required();

    std::string file;
    bool parseLog = false;
    CLI::App* showCommand =
        app.add_subcommand("show", "Print the blocks and the information block of a file");
    showCommand->add_flag("--log", parseLog, "Also print the reader's parse log on standard error");
    showCommand->add_option("FILE.bird", file, "The BIRD file to show")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        printf("%s", app.help("", CLI::AppFormatMode::All).c_str());
        return 0;
    } catch (const CLI::ParseError& e) {
        fprintf(stderr, "birdtool: %s\n%s", e.what(),
                app.help("", CLI::AppFormatMode::All).c_str());
        return USAGE_EXIT;
    }
    if (buildCommand->parsed()) {
        return build(description, output);
    }
    return show(file, parseLog);
}
