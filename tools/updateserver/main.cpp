// updateserver: plays the firmware update server (GET /cgi/u) over HTTP or HTTPS, serving builds
// from a directory, with fault knobs for tests. See README.md.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "BuildDirectory.h"
#include "CgiOperations.h"
#include "FaultPlan.h"
#include "Lifetime.h"
#include "RequestLog.h"
#include "ServerOptions.h"

namespace {

// SIGALRM marks the end of the run's duration (see startDurationTimer).
sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGALRM);
    return signals;
}

void startDurationTimer(double durationSeconds) {
    if (durationSeconds <= 0) {
        return;
    }
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(durationSeconds);
    timer.it_value.tv_usec = static_cast<suseconds_t>(
        (durationSeconds - static_cast<double>(timer.it_value.tv_sec)) * 1e6);
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) {
        timer.it_value.tv_usec = 1;
    }
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// Waits for SIGTERM, SIGINT or the end of the run's duration.
void awaitStopSignal() {
    sigset_t signals = stopSignals();
    int received = 0;
    sigwait(&signals, &received);
}

// stop() only acts on a server that is already listening; a signal may come just before.
void stopOnceListening(httplib::Server& server, Lifetime& lifetime) {
    lifetime.requestStop();
    while (!server.is_running() && !lifetime.listenFinished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!lifetime.listenFinished()) {
        server.stop();
    }
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::unique_ptr<httplib::Server> makeServer(const ServerOptions& options) {
    if (options.tls()) {
        return std::make_unique<httplib::SSLServer>(options.certFile.c_str(),
                                                    options.keyFile.c_str());
    }
    return std::make_unique<httplib::Server>();
}

int bindServer(httplib::Server& server, const ServerOptions& options) {
    if (options.port == 0) {
        return server.bind_to_any_port(options.bindAddress);
    }
    return server.bind_to_port(options.bindAddress, options.port) ? options.port : -1;
}

int fail(const std::string& why) {
    fprintf(stderr, "updateserver: %s\n", why.c_str());
    return 1;
}

int serve(const ServerOptions& options) {
    signal(SIGPIPE, SIG_IGN);
    // Blocked before any thread starts, so that only the watcher below takes them.
    sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::string error;
    Lifetime lifetime;
    FaultPlan faults(options.faults, lifetime);
    RequestLog requestLog;
    if (!isDirectory(options.buildsDir)) {
        return fail("no builds directory " + options.buildsDir);
    }
    if (!faults.load(&error)) {
        return fail(error);
    }
    if (!requestLog.open(options.requestLog)) {
        return fail("cannot open " + options.requestLog);
    }
    std::unique_ptr<httplib::Server> server = makeServer(options);
    if (!server->is_valid()) {
        return fail("cannot use certificate " + options.certFile + " with key " + options.keyFile);
    }
    CgiOperations cgi{BuildDirectory(options.buildsDir)};
    server->set_pre_routing_handler([&](const httplib::Request& request, httplib::Response&) {
        requestLog.record(request.target);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server->Get("/cgi/u", [&](const httplib::Request& request, httplib::Response& response) {
        faults.answer(request.get_param_value("op"), cgi.Answer(request.params), response);
    });
    int port = bindServer(*server, options);
    if (port < 0) {
        return fail("cannot listen on " + options.bindAddress + ":" + std::to_string(options.port));
    }
    printf("%s %s:%d\nready\n", options.tls() ? "https" : "http", options.bindAddress.c_str(),
           port);
    fflush(stdout);

    startDurationTimer(options.durationSeconds);
    std::thread watcher([&] {
        awaitStopSignal();
        stopOnceListening(*server, lifetime);
    });
    bool listened = server->listen_after_bind();
    bool watcherWaiting = !lifetime.stopping();
    lifetime.markListenFinished();
    if (watcherWaiting) {
        pthread_kill(watcher.native_handle(), SIGTERM);
    }
    watcher.join();
    return listened ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    const int exitCode = ReadServerOptions(argc, argv, options);
    return exitCode >= 0 ? exitCode : serve(options);
}
