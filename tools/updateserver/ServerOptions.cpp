#include "ServerOptions.h"

#include <cerrno>
#include <cstdlib>

namespace {

const char kUsage[] =
    "Usage: updateserver --builds DIR [options]\n"
    "\n"
    "Plays the firmware update server: GET /cgi/u with op=hi, op=qu, op=bird, op=builds and\n"
    "op=fix.\n"
    "Prints \"http ADDR:PORT\" (or \"https ADDR:PORT\") and \"ready\" when it accepts requests;\n"
    "SIGTERM or SIGINT stops it.\n"
    "\n"
    "  --builds DIR          builds: DIR/SSSSSSSS/NNNN.bird per serial number (\"%08X\"),\n"
    "                        DIR/default/NNNN.bird for every other serial number;\n"
    "                        NNNN.version beside a build overrides its version text;\n"
    "                        DIR/recovery.txt answers op=fix, a chip per line:\n"
    "                        W0 W1 W2 W3 SERIAL BUILD (hex words and serial, decimal build)\n"
    "  --bind ADDR           address to listen on (default 127.0.0.1)\n"
    "  --port N              port (default 0: any free port)\n"
    "  --tls CERT.pem KEY.pem  serve HTTPS with this certificate and key\n"
    "  --request-log FILE    append each request target (\"/cgi/u?...\") as one line\n"
    "  --duration S          stop by itself after S seconds\n"
    "  --help                this text\n"
    "\n"
    "Fault knobs (every request, or only those of one operation with --fault-op):\n"
    "  --fault-op OP         apply the faults only to op=OP (hi, qu, bird, builds, fix)\n"
    "  --status CODE         answer with this HTTP status (200..599); the body stays \"ok...\"\n"
    "  --bad-first-line      first reply line \"no\" instead of \"ok\"\n"
    "  --reply FILE          send the content of FILE as the body instead of the computed one\n"
    "  --truncate N          send only the first N bytes of the body (a complete, short reply)\n"
    "  --cut N               declare the whole body, send its first N bytes, then close\n"
    "  --stall               accept the request and send nothing until the server stops\n"
    "                        (at most 120 s, then the connection is closed without a body)\n"
    "  --delay-ms N          wait N ms before answering\n"
    "Each request the knobs change is noted on standard error, e.g.\n"
    "\"updateserver: op=bird stalled\".\n";

bool parseLong(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

bool parseSeconds(const char* text, double* value) {
    char* end = nullptr;
    double parsed = strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed > 0) || parsed > 1e6) {
        return false;
    }
    *value = parsed;
    return true;
}

class Parser {
  public:
    Parser(int argc, char** argv, ServerOptions& options)
        : argc_(argc), argv_(argv), options_(options) {}

    OptionsResult run(std::string* error);

  private:
    // The next argument as the value of the current option; nullptr when missing.
    const char* value() { return index_ + 1 < argc_ ? argv_[++index_] : nullptr; }
    bool number(long low, long high, long* out) {
        const char* text = value();
        return text != nullptr && parseLong(text, low, high, out);
    }
    bool text(std::string* out) {
        const char* given = value();
        if (given == nullptr || given[0] == '\0') {
            return false;
        }
        *out = given;
        return true;
    }
    bool option(const std::string& name);

    int argc_;
    char** argv_;
    ServerOptions& options_;
    int index_ = 0;
};

bool Parser::option(const std::string& name) {
    FaultOptions& faults = options_.faults;
    long parsed = 0;
    if (name == "--builds") {
        return text(&options_.buildsDir);
    }
    if (name == "--bind") {
        return text(&options_.bindAddress);
    }
    if (name == "--port") {
        bool ok = number(0, 65535, &parsed);
        options_.port = static_cast<int>(parsed);
        return ok;
    }
    if (name == "--tls") {
        return text(&options_.certFile) && text(&options_.keyFile);
    }
    if (name == "--request-log") {
        return text(&options_.requestLog);
    }
    if (name == "--duration") {
        const char* given = value();
        return given != nullptr && parseSeconds(given, &options_.durationSeconds);
    }
    if (name == "--fault-op") {
        return text(&faults.onlyOp);
    }
    if (name == "--status") {
        bool ok = number(200, 599, &parsed);
        faults.status = static_cast<int>(parsed);
        return ok;
    }
    if (name == "--bad-first-line") {
        faults.badFirstLine = true;
        return true;
    }
    if (name == "--reply") {
        return text(&faults.replyFile);
    }
    if (name == "--truncate") {
        return number(0, 1L << 30, &faults.truncateTo);
    }
    if (name == "--cut") {
        return number(0, 1L << 30, &faults.cutAfter);
    }
    if (name == "--stall") {
        faults.stall = true;
        return true;
    }
    if (name == "--delay-ms") {
        return number(0, 600000, &faults.delayMs);
    }
    return false;
}

OptionsResult Parser::run(std::string* error) {
    for (index_ = 1; index_ < argc_; ++index_) {
        std::string name = argv_[index_];
        if (name == "--help" || name == "-h") {
            return OptionsResult::Help;
        }
        if (!option(name)) {
            *error = "bad or incomplete option " + name;
            return OptionsResult::Invalid;
        }
    }
    if (options_.buildsDir.empty()) {
        *error = "--builds DIR is required";
        return OptionsResult::Invalid;
    }
    return OptionsResult::Run;
}

}  // namespace

OptionsResult ParseServerOptions(int argc, char** argv, ServerOptions& options,
                                 std::string* error) {
    return Parser(argc, argv, options).run(error);
}

const char* ServerUsage() {
    return kUsage;
}
