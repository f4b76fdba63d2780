// zerik_sim: serves one simulated scanner on its device socket until SIGINT
// or SIGTERM, and takes control lines on standard input.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "zerik_sim/simulator.h"

namespace {

constexpr char kUsage[] =
    "usage: zerik_sim [--dir DIR] [--number N] [scanner options]\n"
    "\n"
    "Serves the simulated scanner on the socket DIR/ZERIK-N (N defaults to 0;\n"
    "DIR to $ZERIK_DEVICE_DIR, else the per-user runtime directory) until\n"
    "SIGINT or SIGTERM. The socket appears once it is ready.\n"
    "\n"
    "Options:\n"
    "  --dir DIR             folder of the device socket\n"
    "  --number N            device path number, 0..99\n"
    "  --help                this text\n";

void PrintHelp(const zerik::sim::Simulator* sim) {
    std::cout << kUsage << zerik::sim::ScannerOptionsHelp()
              << "\nControl lines on standard input (its end does not stop the scanner):\n";
    if (sim != nullptr) std::cout << sim->ControlHelp();
}

}  // namespace

int main(int argc, char** argv) {
    zerik::sim::Options options;
    if (const char* dir = std::getenv("ZERIK_DEVICE_DIR")) options.dir = dir;
    std::vector<std::string> scanner_args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::string ignored;
            auto device = zerik::sim::MakeScanner({}, &ignored);
            zerik::sim::Simulator sim(options, std::move(device));
            PrintHelp(&sim);
            return 0;
        }
        if ((arg == "--dir" || arg == "--number") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--dir") {
                options.dir = value;
            } else {
                try {
                    options.number = std::stoi(value);
                } catch (const std::exception&) {
                    options.number = -1;
                }
                if (options.number < 0 || options.number > 99) {
                    std::cerr << "zerik_sim: --number takes 0..99\n";
                    return 2;
                }
            }
            continue;
        }
        scanner_args.push_back(arg);
    }
    std::string error;
    auto device = zerik::sim::MakeScanner(scanner_args, &error);
    if (!device) {
        std::cerr << "zerik_sim: " << error << "\n" << kUsage;
        return 2;
    }

    // Signals are taken by sigwait below, not by whichever thread they hit.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    zerik::sim::Simulator sim(options, std::move(device));
    if (!sim.Start()) {
        std::cerr << "zerik_sim: cannot serve " << sim.SocketPath() << "\n";
        return 1;
    }
    std::cout << "zerik_sim: serving " << sim.SocketPath() << std::endl;

    std::thread([&sim] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.empty()) continue;
            std::cout << sim.Control(line) << std::endl;
        }
    }).detach();

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    sim.Stop();
    std::cout << "zerik_sim: stopped" << std::endl;
    std::fflush(stdout);
    std::_Exit(0);  // the control-line reader may still be blocked on stdin
}
