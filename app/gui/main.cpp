// ondalo: the desktop program.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/batch_core.h"
#include "app/gui/application.h"
#include "app/gui/qt_message_box.h"
#include "platform/com/class_registry.h"

namespace {

const char kHelp[] =
    "Usage: ondalo [FILE|FOLDER ...]\n"
    "       ondalo --rip [DEVICE]\n"
    "\n"
    "The batch audio converter and audio-CD ripper.\n"
    "\n"
    "Files and folders given open the conversion wizard with them in its list.\n"
    "\n"
    "Options:\n"
    "  --rip [DEVICE]  open the ripping wizard at once (DEVICE: the CD drive:\n"
    "                  a number from 1, /dev/sr0, or cdda://sr0/)\n"
    "  --version       print the version and exit\n"
    "  -h, --help      print this help and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. Settings are\n"
    "kept in Option.ini (see ondalo-cli --help for where it lives).\n";

struct CommandLine {
    bool rip = false;
    std::vector<std::string> files;
    std::string device;
    int exitNow = -1;  // >= 0: exit with this status without starting
};

CommandLine Parse(int argc, char** argv) {
    CommandLine c;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            std::fputs(kHelp, stdout);
            c.exitNow = 0;
            return c;
        }
        if (!std::strcmp(a, "--version")) {
            std::printf("ondalo %s\n", ONDALO_VERSION);
            c.exitNow = 0;
            return c;
        }
        if (!std::strcmp(a, "--rip")) {
            c.rip = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') c.device = argv[++i];
        } else if (a[0] != '-') {
            c.files.emplace_back(a);
        } else if (!std::strcmp(a, "--")) {
            for (++i; i < argc; ++i) c.files.emplace_back(argv[i]);
        } else {
            std::fprintf(stderr, "ondalo: unknown option '%s'\n\n%s", a, kHelp);
            c.exitNow = 2;
            return c;
        }
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    // Help and version need no display.
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "--version")) {
            // Qt's own options may stand before it; they are not ours to judge.
            char* alone[] = {argv[0], argv[i]};
            return Parse(2, alone).exitNow;
        }
    QApplication qtApp(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName("ondalo");
    QApplication::setApplicationVersion(ONDALO_VERSION);
    QApplication::setDesktopFileName("ondalo");
    CommandLine line = Parse(argc, argv);
    if (line.exitNow >= 0) return line.exitNow;

    kiv::CoInitialize(nullptr);
    kiv::gui::InstallDialogMessageBoxes();
    kiv::gui::Application app(kiv::gui::EndProcessNow);
    // Only the real program may power the computer off at the end of a batch.
    app.context().powerOff = [] { kiv::app::SystemPostActions().PowerOff(); };
    if (line.rip) {
        app.StartWithRipper(QString::fromStdString(line.device));
    } else if (!line.files.empty()) {
        QStringList paths;
        for (const std::string& f : line.files) paths << QString::fromLocal8Bit(f.c_str());
        app.StartWithFiles(paths);
    } else {
        app.Start();
    }
    // Closing the last window does not end the program: only the start
    // window's close button does.
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}
