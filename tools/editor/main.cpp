// tolvane-editor: the sync tracker editor. Run it in a demo's folder, like
// the player; see --help.

#include "Configuration.h"
#include "Cosmonaut.h"
#include "Document.h"
#include "EditorLink.h"
#include "EditorWindow.h"
#include "Session.h"
#include "Waveform.h"

#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

using namespace Tolvane;
using namespace Tolvane::Editor;

namespace {

const char* const USAGE =
    "usage: tolvane-editor [CONFIGURATION] [--host ADDRESS] [--port N]\n"
    "\n"
    "The sync tracker editor. Run it in the demo's folder, like the player: it\n"
    "reads the tracks, BPM, RPB and tune from CONFIGURATION (configuration.json\n"
    "by default), loads the track files, and waits for the player in editing\n"
    "mode. Ctrl+S writes the track files; see the README for every key.\n"
    "\n"
    "  --host ADDRESS  address to listen on (default 127.0.0.1)\n"
    "  --port N        port to listen on (default 1338)\n"
    "  --help          this text\n"
    "  --version       the version\n";

struct Arguments {
    std::string configuration = "configuration.json";
    std::string host = "127.0.0.1";
    uint16_t port = 1338;
};

// Returns 0 to go on, else the exit status plus one (so 1 means exit 0).
int parse(int argc, char** argv, Arguments& args) {
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << USAGE;
            return 1;
        }
        if (arg == "--version") {
            std::cout << "tolvane-editor " << TOLVANE_VERSION << "\n";
            return 1;
        }
        if ((arg == "--host" || arg == "--port") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--host") {
                args.host = value;
                continue;
            }
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 1 || port > 65535) {
                std::cerr << "tolvane-editor: not a port: " << value << "\n";
                return 3;
            }
            args.port = uint16_t(port);
        } else if (arg.rfind("--", 0) != 0 && !named) {
            args.configuration = arg;
            named = true;
        } else {
            std::cerr << "tolvane-editor: unknown argument " << arg << "\n" << USAGE;
            return 3;
        }
    }
    return 0;
}

// Why the configuration gives no tracks, or empty when it reads well.
std::string configurationProblem(const std::string& path, Configuration& config) {
    if (!config.read(path))
        return "cannot read " + path + ": no tracks";
    std::ifstream in(path, std::ios::binary);
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, in, &root, &errors))
        return path + " is not valid JSON: no tracks";
    return {};
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (int done = parse(argc, argv, args))
        return done - 1;

    // The link's thread wakes the window only while it exists.
    std::mutex wakeLock;
    bool windowUp = false;
    EditorLink::Options options;
    options.host = args.host;
    options.port = args.port;
    options.queueEvents = true;
    options.notify = [&wakeLock, &windowUp] {
        std::lock_guard<std::mutex> lock(wakeLock);
        if (windowUp)
            EditorWindow::wake();
    };
    EditorLink link(options);
    if (!link.listening()) {
        std::cerr << "tolvane-editor: cannot listen on " << args.host << " port " << args.port
                  << ": " << link.listenError() << "\n";
        return 1;
    }

    Configuration config;
    std::string problem = configurationProblem(args.configuration, config);
    std::vector<std::string> names;
    for (const Common::Track& track : config.tracks)
        for (const std::string& name : Cosmonaut::syncTrackNames(track))
            names.push_back(name);

    Document doc;
    doc.setTiming(config.tune.BPM, config.sync.RPB);
    std::vector<std::string> refused = doc.load(names);
    Session session(doc, link);
    if (!refused.empty())
        problem =
            "malformed track file " + refused.front() +
            (refused.size() > 1 ? " and " + std::to_string(refused.size() - 1) + " more" : "") +
            ": the track starts empty; the file is kept until you save";
    Waveform waveform;
    std::string tuneError;
    if (!waveform.load(config.tune.file, doc.rowRate(), tuneError) && problem.empty())
        problem = "no waveform: " + tuneError;
    session.setMessage(problem.empty()
                           ? "listening on " + args.host + " port " + std::to_string(link.port())
                           : problem);

    WindowSettings settings;
    settings.group = config.demo.group;
    settings.name = config.demo.name;
    settings.recoveryDir = args.configuration + ".recovery";
    settings.offerRestore = Document::recoveryExists(settings.recoveryDir);
    EditorWindow window(doc, session, waveform, settings);
    std::string error;
    if (!window.open(error)) {
        std::cerr << "tolvane-editor: " << error << "\n";
        return 1;
    }
    std::unique_lock<std::mutex> lock(wakeLock);
    windowUp = true;
    lock.unlock();
    window.run();
    lock.lock();
    windowUp = false;
    return 0;
}
