#pragma once

// Large libraries for the benchmarks that write.

#include <QString>

// folder/name.jov: one 64 x 64 image followed by count images of side x side, written in
// chunks straight to the files (once: an existing library of that name is taken as it is).
// Returns the data file's path.
QString BigLibrary(const QString& folder, const QString& name, int count, int side);
