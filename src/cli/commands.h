#pragma once
// Each kerbilo-cli command takes the arguments after its name and returns the exit code:
// 0 success, 1 a file could not be read or written, 2 a usage error.

namespace kerbilo::cli {

int runList(int argc, char** argv);
int runExport(int argc, char** argv);
int runReplace(int argc, char** argv);
int runSetOutputFolder(int argc, char** argv);
int runRender(int argc, char** argv);

}  // namespace kerbilo::cli
