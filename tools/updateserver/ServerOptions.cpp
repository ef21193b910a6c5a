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
    app.add_option("--builds", options.buildsDir,
                   "builds: DIR/SSSSSSSS/NNNN.bird per serial number (\"%08X\"),\n"
                   "DIR/default/NNNN.bird for every other serial number;\n"
                   "NNNN.version beside a build overrides its version text;\n"
                   "DIR/recovery.txt answers op=fix, a chip per line:\n"
                   "W0 W1 W2 W3 SERIAL BUILD (hex words and serial, decimal build)")
        ->type_name("DIR")
        ->check(kNotEmpty)
        ->required();
    app.add_option("--bind", options.bindAddress, "address to listen on (default 127.0.0.1)")
        ->type_name("ADDR")
        ->check(kNotEmpty);
    app.add_option("--port", options.port, "port (default 0: any free port)")
        ->type_name("N")
        ->check(simtools::within(0, 65535));
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
    app.add_option("--request-log", options.requestLog,
                   "append each request target (\"/cgi/u?...\") as one line")
        ->type_name("FILE")
        ->check(kNotEmpty);
    app.add_option("--duration", options.durationSeconds, "stop by itself after S seconds")
        ->type_name("S")
        ->check(kSeconds);
}

// The knobs, for every request or only those of one operation with --fault-op.
void declareFaultOptions(CLI::App& app, FaultOptions& faults) {
    app.option_defaults()->group(
        "Fault knobs (every request, or only those of one operation with --fault-op)");
    app.add_option("--fault-op", faults.onlyOp,
                   "apply the faults only to op=OP (hi, qu, bird, builds, fix)")
        ->type_name("OP")
        ->check(kNotEmpty);
    app.add_option("--status", faults.status,
                   "answer with this HTTP status (200..599); the body stays \"ok...\"")
        ->type_name("CODE")
        ->check(simtools::within(200, 599));
    app.add_flag("--bad-first-line", faults.badFirstLine,
                 "first reply line \"no\" instead of \"ok\"");
    app.add_option("--reply", faults.replyFile,
                   "send the content of FILE as the body instead of the computed one")
        ->type_name("FILE")
        ->check(kNotEmpty);
    app.add_option("--truncate", faults.truncateTo,
                   "send only the first N bytes of the body (a complete, short reply)")
        ->type_name("N")
        ->check(simtools::within(0L, kMaxBodyBytes));
    app.add_option("--cut", faults.cutAfter,
                   "declare the whole body, send its first N bytes, then close")
        ->type_name("N")
        ->check(simtools::within(0L, kMaxBodyBytes));
    app.add_flag("--stall", faults.stall,
                 "accept the request and send nothing until the server stops\n"
                 "(at most 120 s, then the connection is closed without a body)");
    app.add_option("--delay-ms", faults.delayMs, "wait N ms before answering")
        ->type_name("N")
        ->check(simtools::within(0L, 600000L));
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
