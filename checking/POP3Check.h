#pragma once
// Mailbox checking: the worker that talks to the servers on a thread of its own (Pop3Worker.h), the
// coordinator on the window's thread that runs checks and applies their results (CheckCoordinator.h), and
// the one server operation of the moment (ServerOperations.h).
#include "CheckCoordinator.h"
#include "Pop3Worker.h"
#include "ServerOperations.h"
