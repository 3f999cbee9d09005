#pragma once

// Large libraries, and folders to write them in, for the benchmarks that write.

#include <QString>
#include <QTemporaryDir>

// A folder for this run's files, made at the first call under $JOV_BENCH_DIR (or the
// system's temporary folder) as prefix-XXXXXX, and removed with everything in it at the
// end of the run.
QTemporaryDir& BenchFolder(const QString& prefix);

// folder/name.jov: one 64 x 64 image followed by count images of side x side, written in
// chunks straight to the files (once: an existing library of that name is taken as it is).
// Returns the data file's path.
QString BigLibrary(const QString& folder, const QString& name, int count, int side);
