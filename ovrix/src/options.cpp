#include "options.h"

#include <optional>
#include <string>
#include <string_view>

#include "platform/com_name.h"

namespace ovrix {

namespace {

// "COM20" or "20" -> 20 (COM numbers start at 1).
std::optional<unsigned> ComNumber(std::string_view text) {
    if (auto number = platform::ParseComName(text))
        return number;
    return platform::ParseComName("COM" + std::string(text));
}

std::optional<PortPair> Pair(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    auto first = ComNumber(text.substr(0, colon));
    auto second = ComNumber(text.substr(colon + 1));
    if (!first || !second || *first == *second)
        return std::nullopt;
    return PortPair{*first, *second};
}

std::optional<Lifemode> LifemodeNamed(std::string_view text) {
    if (text == "temporal" || text == "0")
        return Lifemode::Temporal;
    if (text == "friendly" || text == "1")
        return Lifemode::Friendly;
    if (text == "persistent" || text == "2")
        return Lifemode::Persistent;
    return std::nullopt;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (size_t i = 0; i < args.size() && line.error.empty(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        size_t equals = arg.find('=');
        std::string name = arg.substr(0, equals);
        bool needsValue = name == "--com-base" || name == "--lifemode" || name == "--pair";
        if (needsValue) {
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else {
                line.error = name + " needs a value";
                break;
            }
        }
        if (name == "--help" || name == "-h") {
            line.showHelp = true;
        } else if (name == "--version") {
            line.showVersion = true;
        } else if (name == "--com-base") {
            auto number = ComNumber(value);
            if (number)
                line.daemon.comBase = *number;
            else
                line.error = "--com-base wants a COM number from 1 up, not '" + value + "'";
        } else if (name == "--lifemode") {
            auto mode = LifemodeNamed(value);
            if (mode)
                line.daemon.lifemode = *mode;
            else
                line.error = "--lifemode wants temporal, friendly or persistent";
        } else if (name == "--pair") {
            auto pair = Pair(value);
            if (pair)
                line.daemon.pairs.push_back(*pair);
            else
                line.error = "--pair wants two different ports, e.g. COM20:COM21";
        } else {
            line.error = "unknown argument '" + arg + "'";
        }
    }
    return line;
}

std::string HelpText() {
    return R"(Usage: ovrixd [options]

The virtual COM-port bus. For every USB scanner endpoint in the runtime
namespace (usb/<name>) ovrixd makes a virtual port: a pty linked as
dosdevices/COM<n>, with its values in vbus/Ktr_vcom/<instance>/PortName and
HardwareDevinstpath. Bytes written to the port go to the scanner and the
scanner's bytes come out of the port. It answers the driver's control codes on
the socket vbus/control and serves the data pipe vbus/datapipe (a pty that
echoes back every byte written to it).

The runtime namespace is $KTR_RUNTIME_DIR, else $XDG_RUNTIME_DIR/ktr, else
/tmp/ktr-<uid>. ovrixd runs in the foreground until SIGINT, SIGTERM or SIGHUP
and then removes everything it published.

Options:
  --com-base N            first COM number given to a new port (default 7);
                          the first number not in use from there is taken
  --lifemode MODE         lifemode of new ports: temporal (default; the port
                          goes when the scanner goes), friendly or persistent
                          (the port stays and reconnects when it returns)
  --pair COMa:COMb        offer a linked pair of ports (a null-modem link:
                          what is written to one end is read from the other);
                          may be given more than once
  --help                  show this text
  --version               show the version

Exit status: 0 after a stop signal (or --help, --version); 1 when it cannot
serve: the runtime namespace is refused, another ovrixd serves it, or a port
of --pair is in use (the line on standard error says which); 2 when the
command line is wrong.
)";
}

std::string VersionText() {
    return "ovrixd " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionPatch) + "\n";
}

}  // namespace ovrix
