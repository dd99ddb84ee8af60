// ovmodemsim: a modem on a pseudo-terminal for trying the provider by hand.
//   ovmodemsim [--link PATH] [--rate N] [--guard MS] [--no-callerid]
// Prints the device path to put in ovtapi.conf, then reads commands on standard input:
//   ring [number] [name|P|O]   connect RATE   hangup   say TEXT   quit
// What the caller would see on the remote end is printed as it arrives.
#include "platform/telephony/modemsim.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    ovsim::ModemSimOptions options;
    options.ringIntervalMs = 6000;
    uint32_t rate = 33600;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue)
            options.linkPath = argv[++i];
        else if (arg == "--rate" && hasValue)
            rate = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--guard" && hasValue)
            options.guardMs = std::atoi(argv[++i]);
        else if (arg == "--no-callerid")
            options.callerIdSupported = false;
        else {
            std::fprintf(stderr, "usage: ovmodemsim [--link PATH] [--rate N] [--guard MS] "
                                 "[--no-callerid]\n");
            return 2;
        }
    }
    ovsim::ModemSim sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "ovmodemsim: cannot open a pseudo-terminal\n");
        return 1;
    }
    sim.setAnswer(rate);
    std::printf("%s\n", sim.path().c_str());
    std::fflush(stdout);

    std::thread printer([&sim] {
        size_t shown = 0;
        for (;;) {
            sim.waitFor([&] { return false; }, 100);
            std::string all = sim.received();
            if (all.size() < shown) shown = 0;
            if (all.size() > shown) {
                std::fwrite(all.data() + shown, 1, all.size() - shown, stdout);
                std::fflush(stdout);
                shown = all.size();
            }
        }
    });
    printer.detach();

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "ring") {
            std::string number, name;
            in >> number;
            std::getline(in >> std::ws, name);
            sim.ring(number, name);
        } else if (cmd == "connect") {
            unsigned long r = 0;
            if (in >> r) sim.setAnswer(static_cast<uint32_t>(r));
        } else if (cmd == "hangup") {
            sim.hangUp();
            std::printf("[hung up; device %s]\n", sim.path().c_str());
        } else if (cmd == "say") {
            std::string text;
            std::getline(in >> std::ws, text);
            sim.send(text + "\r\n");
        } else if (cmd == "quit") {
            break;
        } else if (!cmd.empty()) {
            std::printf("[commands: ring [number] [name|P|O], connect RATE, hangup, say TEXT, "
                        "quit]\n");
        }
        std::fflush(stdout);
    }
    std::_Exit(0); // the printer thread never ends by itself
}
