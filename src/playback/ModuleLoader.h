#pragma once

#include <QString>
#include <QStringList>

// The parts of playback whose libraries are heavy live in modules loaded on first use: FFmpeg's
// decoders (about a hundred libraries in Debian's build) when a WMA file is opened, the sound
// server's client library when the output first opens; the captions' TagLib module
// (app/FormatTags) is found and loaded the same way. Each module exports one C entry that
// takes the interface version and returns the module's object, or nullptr when it was built for
// another version. Both sides are built from the same tree by the same compiler, so C++ types
// cross the boundary; everything a module calls in the program is virtual.
//
// A module is looked for, in this order, and the first file that exists is the one loaded (one
// that is there but fails to load is an error, not a reason to try the next):
// 1. the executable's own folder: the build tree puts `ondrix` and the modules side by side;
// 2. <executable's folder>/ONDRIX_MODULE_RELATIVE_DIR: the installed layout
//    (bin/, lib/<triplet>/ondrix/);
// 3. ONDRIX_MODULE_BUILD_DIR, the build tree's root, baked in at configure time, for the test
//    and benchmark executables that live in sub-folders of the build tree.
// Loaded modules are never unloaded: their threads may run until the process ends.
namespace ModuleLoader {

// The module's entry called with `version`; nullptr with the reason in `error`. The outcome is
// kept for the run (thread-safe).
void* Load(const char* file, const char* entry, int version, QString& error);

// Tests: the folders to look in instead of the usual ones (empty: the usual ones). A module that
// failed to load is tried again afterwards; one that loaded stays.
void SetSearchDirs(const QStringList& dirs);

} // namespace ModuleLoader
