#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/MainWindowControl.h"
#include "app/MprisService.h"
#include "app/PlayerInstance.h"
#include "app/QuitSignals.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "core/FileNames.h"
#include "ui/Fonts.h"

#include <QDir>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    // Read before the application object, which would need a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeFileName(argv[i]); // a name that is not UTF-8 kept byte for byte
    const TCommandLine commandLine = ParseCommandLine(args, QDir::currentPath());
    switch (commandLine.Action) {
    case TCommandLine::EAction::Help:
        std::fputs(qPrintable(HelpText()), stdout);
        return 0;
    case TCommandLine::EAction::Version:
        std::fputs(qPrintable(VersionText()), stdout);
        return 0;
    case TCommandLine::EAction::Error:
        std::fprintf(stderr, "ondrix: %s\nTry 'ondrix --help' for more information.\n",
                     qPrintable(commandLine.Message));
        return 2;
    case TCommandLine::EAction::Run:
        break;
    }

    // One player per folder: a later start hands its files to the running one and ends.
    PlayerInstance instance(QDir::currentPath());
    switch (instance.HandOff(commandLine.Files)) {
    case PlayerInstance::EHandOff::HandedOff:
        return 0;
    case PlayerInstance::EHandOff::Failed:
        std::fprintf(stderr, "ondrix: %s\n", qPrintable(instance.Error()));
        return 1;
    case PlayerInstance::EHandOff::NoPlayer:
        break;
    }

    TApplication app(argc, argv);
    instance.Listen();
    SetUpFonts();
    auto data = std::make_unique<TdmData>();
    auto frmIndex = std::make_unique<TfrmIndex>();
    auto control = std::make_unique<MainWindowControl>(*frmIndex);
    QObject::connect(&instance, &PlayerInstance::Activated, control.get(),
                     [&control](const QStringList& files, const QString& activationToken) {
                         control->Raise(activationToken);
                         control->OpenFiles(files);
                     });
    instance.Serve();
    // the end of a session, or kill: as the close button, so the list is saved. Once the
    // program is ending, a box of the exit (a failed save) may still run an event loop: the
    // signal then ends that loop, and the exit goes on.
    QuitOnSignals([&control] {
        if (control)
            control->Quit();
        else
            QCoreApplication::exit(0); // quit() does nothing once exec() has returned
    });
    // the desktop's player controls and media keys
    auto mpris = std::make_unique<MprisService>(*control);
    mpris->StartAfterFirstPaint(frmIndex.get());
    frmIndex->show();
    control->OpenFiles(commandLine.Files);
    const int code = app.exec();
    mpris.reset();
    control.reset();
    // the main window's destruction saves the play list; the data module goes last
    frmIndex.reset();
    data.reset();
    return code;
}
