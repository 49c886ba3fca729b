#ifndef ORVELLA_SERVER_COMMANDLINE_H
#define ORVELLA_SERVER_COMMANDLINE_H

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    std::string configPath = "/etc/orvella-server.conf";
    std::optional<std::string> listen;
    bool checkConfig = false;
    bool lenient = false; // unknown configuration keys are warnings only
    bool help = false;
    bool version = false;
    std::string error; // not empty: the arguments are unusable
};

// The arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string> &arguments);

std::string usageText();

#endif
