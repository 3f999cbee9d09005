#pragma once

// Starting a program as a user's shell does, to signal or kill it at chosen moments.

#include <sys/types.h>

#include <QStringList>

// Starts program with args, its output and errors to /dev/null; returns its process id.
pid_t Spawn(const char* program, const QStringList& args);

// Waits for the process to end; returns its status as waitpid gives it.
int Wait(pid_t pid);
