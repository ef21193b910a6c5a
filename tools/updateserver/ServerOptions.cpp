#include "ServerOptions.h"

#include <cstdlib>

#include "CommandLine.h"

namespace {

const char kDescription[] =
    "Plays the firmware update server: GET /cgi/u with op=hi, op=qu, op=bird, op=builds and\n"
    "op=fix.\n"
    "Prints \"http ADDR:PORT\" (or \"https ADDR:PORT\") and \"ready\" when it accepts requests;\n"
    "SIGTERM or SIGINT stops it.";

const char kFooter[] =
    "Each request the knobs change is noted on standard error, e.g.\n"
    "\"updateserver: op=bird stalled\".";

constexpr long kMaxBodyBytes = 1L << 30;

// Paths, addresses and operation names cannot be empty.
const CLI::Validator kNotEmpty(
    [](std::string& text) { return text.empty() ? std::string("needs a value") : std::string(); },
    "");

const CLI::Validator kSeconds(
    [](std::string& text) {
        char* end = nullptr;
        double seconds = strtod(text.c_str(), &end);
        bool ok = end != text.c_str() && *end == '\0' && seconds > 0 && seconds <= 1e6;
        return ok ? std::string() : "needs seconds above 0 (at most 1000000), not " + text;
    },
    "");

void declareServerOptions(CLI::App& app, ServerOptions& options) {
    simtools::addChecked(app, "--builds", options.buildsDir, "DIR",
                         "builds: DIR/SSSSSSSS/NNNN.bird per serial number (\"%08X\"),\n"
                         "DIR/default/NNNN.bird for every other serial number;\n"
                         "NNNN.version beside a build overrides its version text;\n"
                         "DIR/recovery.txt answers op=fix, a chip per line:\n"
                         "W0 W1 W2 W3 SERIAL BUILD (hex words and serial, decimal build)",
                         kNotEmpty)
        ->required();
    simtools::addChecked(app, "--bind", options.bindAddress, "ADDR",
                         "address to listen on (default 127.0.0.1)", kNotEmpty);
    simtools::addChecked(app, "--port", options.port, "N", "port (default 0: any free port)",
                         simtools::within(0, 65535));
    app.add_option_function<std::vector<std::string>>(
           "--tls",
           [&options](const std::vector<std::string>& files) {
               options.certFile = files[0];
               options.keyFile = files[1];
           },
           "serve HTTPS with this certificate and key")
        ->type_name("CERT.pem KEY.pem")
        ->expected(2)
        ->check(kNotEmpty);
    simtools::addChecked(app, "--request-log", options.requestLog, "FILE",
                         "append each request target (\"/cgi/u?...\") as one line", kNotEmpty);
    simtools::addChecked(app, "--duration", options.durationSeconds, "S",
                         "stop by itself after S seconds", kSeconds);
}

// The knobs, for every request or only those of one operation with --fault-op.
void declareFaultOptions(CLI::App& app, FaultOptions& faults) {
    app.option_defaults()->group(
        "Fault knobs (every request, or only those of one operation with --fault-op)");
    simtools::addChecked(app, "--fault-op", faults.onlyOp, "OP",
                         "apply the faults only to op=OP (hi, qu, bird, builds, fix)", kNotEmpty);
    simtools::addChecked(app, "--status", faults.status, "CODE",
                         "answer with this HTTP status (200..599); the body stays \"ok...\"",
                         simtools::within(200, 599));
    app.add_flag("--bad-first-line", faults.badFirstLine,
                 "first reply line \"no\" instead of \"ok\"");
    simtools::addChecked(app, "--reply", faults.replyFile, "FILE",
                         "send the content of FILE as the body instead of the computed one",
                         kNotEmpty);
    simtools::addChecked(app, "--truncate", faults.truncateTo, "N",
                         "send only the first N bytes of the body (a complete, short reply)",
                         simtools::within(0L, kMaxBodyBytes));
    simtools::addChecked(app, "--cut", faults.cutAfter, "N",
                         "declare the whole body, send its first N bytes, then close",
                         simtools::within(0L, kMaxBodyBytes));
    app.add_flag("--stall", faults.stall,
                 "accept the request and send nothing until the server stops\n"
                 "(at most 120 s, then the connection is closed without a body)");
    simtools::addChecked(app, "--delay-ms", faults.delayMs, "N", "wait N ms before answering",
                         simtools::within(0L, 600000L));
}

}  // namespace

int ReadServerOptions(int argc, char** argv, ServerOptions& options) {
    CLI::App app{"", "updateserver"};
    simtools::useToolHelp(app);
    app.description(kDescription);
    app.footer(kFooter);
    declareServerOptions(app, options);
    declareFaultOptions(app, options.faults);
    return simtools::readCommandLine(app, argc, argv, simtools::AfterError::Help);
}
