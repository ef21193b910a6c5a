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

// What the command line asks for; the commands and options are declared once, in declare().
struct CommandLine {
    CLI::App* build = nullptr;
    std::string description;
    std::string output;
    std::string file;
    bool parseLog = false;
};

void declare(CLI::App& app, CommandLine& line) {
    app.require_subcommand(1);
    line.build = app.add_subcommand("build", "Write the file the description describes");
    line.build->add_option("DESCRIPTION", line.description, "The description file")->required();
    line.build->add_option("OUTPUT.bird", line.output, "The BIRD file to write")->required();
    CLI::App* show =
        app.add_subcommand("show", "Print the blocks and the information block of a file");
    show->add_flag("--log", line.parseLog, "Also print the reader's parse log on standard error");
    show->add_option("FILE.bird", line.file, "The BIRD file to show")->required();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Builds BIRD firmware files from a plain description and shows what one holds.",
                 "birdtool");
    CommandLine line;
    declare(app, line);
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
    return line.build->parsed() ? build(line.description, line.output)
                                : show(line.file, line.parseLog);
}
