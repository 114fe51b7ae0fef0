#pragma once
// The window's thread never waits for a server: the blocking network calls (line sockets, name lookups,
// HTTP requests) refuse to run there, so a wait that slipped onto it fails at once instead of letting
// clicks, timers and dialogs run in the middle of an operation.
#include <QString>

namespace platform {

// True on the main thread of a program with windows (a QGuiApplication); false in command-line tools,
// on other threads, and without an application object.
bool OnWindowThread();

// The error of a blocking network call made on the window's thread.
QString WindowThreadWaitText();

} // namespace platform
