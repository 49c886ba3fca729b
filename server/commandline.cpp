#include "commandline.h"

CommandLine parseCommandLine(const std::vector<std::string> &arguments)
{
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::optional<std::string> value;
        const std::size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        const bool takesValue = argument == "--config" || argument == "--listen";
        if (takesValue && !value) {
            if (i + 1 >= arguments.size()) {
                line.error = argument + " needs a value";
                return line;
            }
            value = arguments[++i];
        }
        if (!takesValue && value) {
            line.error = argument + " takes no value";
            return line;
        }
        if (argument == "--config")
            line.configPath = *value;
        else if (argument == "--listen")
            line.listen = *value;
        else if (argument == "--check-config")
            line.checkConfig = true;
        else if (argument == "--lenient")
            line.lenient = true;
        else if (argument == "--help" || argument == "-h")
            line.help = true;
        else if (argument == "--version")
            line.version = true;
        else {
            line.error = "unknown argument: " + arguments[i];
            return line;
        }
    }
    return line;
}

std::string usageText()
{
    return "Usage: orvella-server [--config FILE] [--listen ADDRESS:PORT] [--check-config]\n"
           "                     [--lenient]\n"
           "\n"
           "Delivers Orvella's e-mail alerts and answers its update check.\n"
           "\n"
           "  --config FILE          configuration file (default /etc/orvella-server.conf)\n"
           "  --listen ADDRESS:PORT  where to accept HTTP requests (default 0.0.0.0:80,\n"
           "                         or the configuration's listen key)\n"
           "  --check-config         check the configuration and exit\n"
           "  --lenient              warn about unknown keys and sections instead of refusing\n"
           "                         to start\n"
           "  --help                 show this text and exit\n"
           "  --version              show the version and exit\n";
}
