// Start-up: the application, the visual style, the main window, the event loop.
// Hooks for unattended runs are in AutomationHooks.h.
#include "AutomationHooks.h"
#include "CommandLine.h"
#include "Translations.h"
#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"
#include "ui/Style.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char* argv[])
{
    QElapsedTimer clock;
    clock.start();

    const TCommandLine cl = ParseCommandLine(argc, argv);
    switch (cl.action) {
    case TCommandLine::Help:
        std::fputs(cUsage, stdout);
        return EXIT_SUCCESS;
    case TCommandLine::Version:
        std::puts("quorvantel " QV_VERSION);
        return EXIT_SUCCESS;
    case TCommandLine::Refused:
        std::fprintf(stderr, "quorvantel: %s\nTry 'quorvantel --help'.\n", cl.error.c_str());
        return 2;
    case TCommandLine::Run:
        break;
    }

    // No application display name: Qt would append it to the window's
    // caption in the title bar.
    QApplication app(argc, argv);
    InstallToolkitTranslations(app);
    InstallStartHooks();

    // A style that cannot be applied leaves the plain look; nothing is said.
    ApplyVisualStyle(app);

    const std::string& portArg = cl.port;
    std::unique_ptr<TMainForm> form;
    try {
        form = std::make_unique<TMainForm>(portArg);
    } catch (const EComPort& e) {
        // The port list cannot be read: the window never comes up.
        Dialogs().Error(nullptr, QString::fromUtf8(e.what()));
        return EXIT_FAILURE;
    }

    form->show();
    ScheduleShownHooks(*form, clock);
    const int rc = QApplication::exec();
    form.reset();
    return rc;
}
