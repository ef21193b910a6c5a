// linkshare: opens one module's link and shares it with other processes on this machine (or the
// network) through a link server, until told to stop.
#include <csignal>
#include <cstdio>
#include <string>

#include "ShareOptions.h"
#include "SharedLink.h"
#include "qShareFailure.h"
#include "qShareKeys.h"
#include "qCzmqSetup.h"
#include "unix_time.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Sleeps in short steps so that a signal ends the wait promptly.
void serveUntilStopped(int durationSeconds) {
    constexpr uint32_t kStepMs = 20;
    const uint32_t limitMs = static_cast<uint32_t>(durationSeconds) * 1000u;
    for (uint32_t waited = 0; !stopRequested && (limitMs == 0 || waited < limitMs);
         waited += kStepMs) {
        qTime_MSSleep(kStepMs);
    }
}

// Makes what is missing of the key directory and prints each public key with its certificate.
int makeKeys() {
    if (qShare_MakeKeys() != qErrNone) {
        fprintf(stderr, "linkshare: %s\n", qShare_Failure());
        return 1;
    }
    const struct {
        qShareKeyPair pair;
        const char* name;
    } pairs[] = {{qShareKeyServer, "server"}, {qShareKeyClient, "client"}};
    for (const auto& pair : pairs) {
        char key[qSHARE_KEY_TEXT_LENGTH + 1] = {};
        char path[4096] = {};
        if (qShare_GetPublicKey(pair.pair, key, sizeof key, path, sizeof path) != qErrNone) {
            fprintf(stderr, "linkshare: %s\n", qShare_Failure());
            return 1;
        }
        printf("%s %s %s\n", pair.name, key, path);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    linkshare::ShareOptions options;
    const int exitCode = linkshare::readShareOptions(argc, argv, options);
    if (exitCode >= 0) {
        return exitCode;
    }
    if (!options.keys.empty()) {
        qShare_SetKeyDirectory(options.keys.c_str());
    }
    if (options.makeKeys) {
        return makeKeys();
    }
    std::string error;
    // Our handlers, not CZMQ's, must see SIGINT and SIGTERM.
    qCzmq_Prepare();
    installStopHandlers();
    linkshare::SharedLink shared;
    if (!shared.open(options, &error) || !shared.publish(!options.network, &error)) {
        fprintf(stderr, "linkshare: %s\n", error.c_str());
        return 1;
    }
    printf("shared %08X port %u\nready\n", options.serial, static_cast<unsigned>(shared.port()));
    fflush(stdout);
    serveUntilStopped(options.durationSeconds);
    shared.close();
    return 0;
}
