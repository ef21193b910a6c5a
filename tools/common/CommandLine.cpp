#include "CommandLine.h"

#include <cstdio>

namespace simtools {

namespace {

constexpr size_t kLineWidth = 80;

std::string optionWords(const CLI::Option* option) {
    std::string words = option->get_name(false, true);
    if (option->get_type_size() != 0 && !option->get_type_name().empty()) {
        words += " " + option->get_type_name();
    }
    return words;
}

class ToolHelp : public CLI::Formatter {
  public:
    ToolHelp() { column_width(kHelpColumn); }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::string footer = make_footer(app);
        return make_usage(app, name) + make_description(app) + "\n" + make_groups(app, mode) +
               (footer.empty() ? "" : "\n" + footer);
    }

    // Groups follow each other with one blank line between them.
    std::string make_group(std::string group, bool positional,
                           std::vector<const CLI::Option*> options) const override {
        std::string out = group + ":\n";
        for (const CLI::Option* option : options) {
            out += make_option(option, positional);
        }
        return out;
    }

    // "usage: NAME" and every option but the help, in brackets unless it must be given,
    // wrapped under the name.
    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = "usage: " + name;
        const std::string indent(usage.size(), ' ');
        size_t lineStart = 0;
        for (const CLI::Option* option : app->get_options()) {
            if (option == app->get_help_ptr()) {
                continue;
            }
            std::string word = optionWords(option);
            word = option->get_required() ? word : "[" + word + "]";
            if (option->get_expected_max() >= CLI::detail::expected_max_vector_size) {
                word += "...";  // given once for every value
            }
            if (usage.size() - lineStart + 1 + word.size() > kLineWidth) {
                usage += "\n" + indent;
                lineStart = usage.size() - indent.size();
            }
            usage += " " + word;
        }
        return usage + "\n";
    }

    // The value words only: what may be repeated or must be given is said in the usage line.
    std::string make_option_opts(const CLI::Option* option) const override {
        std::string words = optionWords(option);
        return words.substr(option->get_name(false, true).size());
    }
};

}  // namespace

void useToolHelp(CLI::App& app) {
    app.formatter(std::make_shared<ToolHelp>());
    app.set_help_flag("-h,--help", "print this text and exit");
}

int readCommandLine(CLI::App& app, int argc, char** argv, AfterError after) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& error) {
        if (after == AfterError::Help) {
            fprintf(stderr, "%s: %s\n\n%s", app.get_name().c_str(), error.what(),
                    app.help().c_str());
        } else {
            fprintf(stderr, "%s: %s (see --help)\n", app.get_name().c_str(), error.what());
        }
        return 2;
    }
    return -1;
}

}  // namespace simtools
