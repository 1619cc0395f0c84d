// test_editor: a stand-in sync tracker editor on the command line.
//
//   test_editor [--port N] [--reply TEXT]
//
// Listens on 127.0.0.1 (port 1338 by default), prints what the player sends
// (greeting, track requests, row reports) and sends what is typed, one
// command a line:
//
//   key TRACK ROW VALUE TYPE   set a key (TYPE 0 step, 1 linear, 2 smooth, 3 ramp)
//   del TRACK ROW              delete a key
//   row ROW                    seek the player
//   pause FLAG                 1 pauses, 0 plays
//   save                       make the player write its track files
//   raw HEX...                 send raw bytes, e.g. "raw 06" (an unknown command)
//   close                      close the connection (the player reconnects)
//   tracks                     list the tracks requested on this connection
//   quit

#include "TestEditor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

using Tolvane::Testing::TestEditor;

namespace {

std::mutex printLock;

void print(const std::string& line) {
    std::lock_guard<std::mutex> lock(printLock);
    std::cout << line << std::endl;
}

void usage() {
    std::cerr << "usage: test_editor [--port N] [--reply TEXT]\n";
}

bool parseHex(std::istringstream& in, TestEditor::Bytes& out) {
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        unsigned long v = std::strtoul(word.c_str(), &end, 16);
        if (*end != '\0' || v > 0xFF)
            return false;
        out.push_back(uint8_t(v));
    }
    return !out.empty();
}

// Runs one command line; false on "quit".
bool execute(TestEditor& editor, const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd))
        return true;

    bool ok = false;
    bool known = true;
    if (cmd == "key") {
        uint32_t track;
        int32_t row;
        float value;
        unsigned type;
        known = bool(in >> track >> row >> value >> type) && type <= 0xFF;
        if (known)
            ok = editor.setKey(track, row, value, uint8_t(type));
    } else if (cmd == "del") {
        uint32_t track;
        int32_t row;
        known = bool(in >> track >> row);
        if (known)
            ok = editor.deleteKey(track, row);
    } else if (cmd == "row") {
        int32_t row;
        known = bool(in >> row);
        if (known)
            ok = editor.setRow(row);
    } else if (cmd == "pause") {
        unsigned flag;
        known = bool(in >> flag) && flag <= 0xFF;
        if (known)
            ok = editor.pause(uint8_t(flag));
    } else if (cmd == "save") {
        ok = editor.saveTracks();
    } else if (cmd == "raw") {
        TestEditor::Bytes bytes;
        known = parseHex(in, bytes);
        if (known)
            ok = editor.sendRaw(bytes);
    } else if (cmd == "close") {
        editor.closeConnection();
        ok = true;
    } else if (cmd == "tracks") {
        auto names = editor.trackRequests();
        for (size_t i = 0; i < names.size(); ++i)
            print("  " + std::to_string(i) + ": " + names[i]);
        ok = true;
    } else if (cmd == "quit") {
        return false;
    } else {
        known = false;
    }

    if (!known)
        print("? " + line);
    else if (!ok)
        print("not sent: no player connected");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TestEditor::Options options;
    options.log = [](const std::string& event) { print("* " + event); };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            options.port = uint16_t(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--reply") == 0 && i + 1 < argc) {
            options.greetingReply = argv[++i];
        } else {
            usage();
            return 2;
        }
    }

    TestEditor editor(options);
    if (!editor.listening()) {
        std::cerr << "test_editor: cannot listen on port " << options.port << "\n";
        return 1;
    }
    print("listening on 127.0.0.1:" + std::to_string(editor.port()));

    std::string line;
    while (std::getline(std::cin, line))
        if (!execute(editor, line))
            break;
    return 0;
}
