#pragma once

struct BatchOptions;

// The worker's side of the conversation (picsage-analyse --worker). It reads one path a
// line on standard input, percent-encoded, and answers on standard output with a line per
// method, "R<tab>method<tab>milliseconds<tab>record", and "E" when the picture is done.
// Whatever the library prints goes to standard error instead. Ends with its coordinator.
int runWorker(const BatchOptions &options, int &argc, char **argv);

// The protocol's words, shared by both sides.
namespace workerprotocol {
constexpr char Record = 'R';
constexpr char End = 'E';
} // namespace workerprotocol
