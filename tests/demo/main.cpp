// marlin-recovery-live-demo: the live program's window on the fabricated machine, with the real service. Its name
// begins like the live program's, which the service requires of its callers.

#include "DemoRun.h"

#include <tessel/widgets/TApplication.h>

#include <QCommandLineParser>

int main(int argc, char** argv)
{
    Tessel::Widgets::TApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"scripted", "Walk the window through a factory reset and a repair, then end."});
    parser.addOption({"screenshots", "Directory for the screenshots of the scripted run.", "dir"});
    parser.addOption({"new-disk", "The scripted second act: the whole-disk backup restored onto a new disk."});
    parser.process(app);
    if (qEnvironmentVariable("MARLIN_LIVE_ENV") != "1") {
        qCritical("run inside the fabricated live environment: tests/live-env/marlin-live-env exec STATE -- ...");
        return 2;
    }
    DemoRun demo(parser.value("screenshots"), parser.isSet("scripted"));
    return parser.isSet("new-disk") ? demo.runNewDisk() : demo.run();
}
