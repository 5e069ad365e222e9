#pragma once

#include <functional>

// SIGTERM (a session that ends, `kill`), SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal
// closed) run `quit` from the event loop, so the player ends as its close button ends it, saving
// the play list. A second such signal ends the program at once.
void QuitOnSignals(std::function<void()> quit);
