// ss-controller: the reference controller. Answers heartbeats and pings of sensor services
// agents, delivers requests an operator queued, and shows the agents it has seen.
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <thread>

#include "runtime/unicode.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/options.h"
#include "tools/controller/server.h"

int main(int argc, char* argv[]) {
    using namespace zel::controller;
    std::string error;
    const auto options = ParseOptions(argc, argv, error);
    if (!options) {
        std::cerr << "ss-controller: " << error << "\nRun with --help for more information.\n";
        return 2;
    }
    if (options->help) {
        std::cout << Usage();
        return 0;
    }
    GroupSettings settings;
    try {
        if (!options->groupSettingsFile.empty())
            settings = LoadGroupSettings(options->groupSettingsFile, zel::ToUtf16(options->groupSettingsVersion));
    } catch (const std::exception& e) {
        std::cerr << "ss-controller: " << e.what() << '\n';
        return 1;
    }

    // SIGINT and SIGTERM are taken by a thread of their own so that the server stops cleanly;
    // they are blocked before any other thread starts so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A peer that goes away mid-answer (or a dropped connection under TLS, whose library
    // writes with write()) must fail that one write, not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<CControllerServer> server;
    try {
        server = std::make_unique<CControllerServer>(*options, std::move(settings), std::cout);
    } catch (const std::exception& e) {
        std::cerr << "ss-controller: " << e.what() << '\n';
        return 1;
    }
    const int port = server->Bind();
    if (port < 0) {
        std::cerr << "ss-controller: cannot listen on " << options->host << ':' << options->port << '\n';
        return 1;
    }
    std::cout << "listening on " << options->host << ':' << port << (options->certificateFile.empty() ? "" : " (https)")
              << std::endl;

    std::thread signalWaiter([&server, &stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server->Stop();
    });
    const bool served = server->Serve();
    if (!served) {
        // Serve failed without a signal: wake the waiter so that it can be joined.
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    }
    signalWaiter.join();
    return served ? 0 : 1;
}
