#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. It is read before the application object exists, so that
// --help, --version and a mistyped option need no display.
struct TCommandLine {
    enum class EAction { Run, Help, Version, Error };
    EAction Action = EAction::Run;
    // Music files to play, as absolute paths, in the order given.
    QStringList Files;
    // For Error: what was wrong, one line.
    QString Message;
};

// `args` without the program's name. Qt's own options (-platform xcb, -style=fusion, ...) are
// left to the application object; file: URLs are taken as the files they name; "--" ends the
// options. Relative paths are made absolute against `folder`.
TCommandLine ParseCommandLine(const QStringList& args, const QString& folder);

// The texts printed for --help and --version.
QString HelpText();
QString VersionText();
