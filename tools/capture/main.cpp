// tolvane-capture: renders a demo offscreen at a fixed frame rate and size
// into numbered PNG frames and the tune's audio, or into a video. Run it in
// the demo's directory, as the player: every path in the configuration is
// relative to the working directory. --help lists the options.

#include "Capture.h"
#include "CaptureOptions.h"
#include "Platform.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace Tolvane::Capture;
    std::vector<std::string> arguments = Tolvane::Platform::arguments(argc, argv);
    if (!arguments.empty())
        arguments.erase(arguments.begin());
    const ParsedArguments parsed = parseArguments(arguments);
    if (parsed.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("tolvane-capture %s\n", TOLVANE_VERSION);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tolvane-capture: %s\nrun tolvane-capture --help for usage\n",
                     parsed.error.c_str());
        return Capture::BAD_REQUEST;
    }
    Capture capture(stderr);
    return capture.run(parsed.options);
}
