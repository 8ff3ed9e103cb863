#pragma once

// The launcher's choice of Qt platform, made before the application object exists: the
// tool shows nothing, so it must start wherever it is run. Without a display in the
// environment it takes the offscreen platform at once; when the environment names a display
// or a platform, a short-lived child process tries to start that platform first, and the
// tool falls back to offscreen when the child cannot (no server at DISPLAY, an unknown
// QT_QPA_PLATFORM, ...). The child never aborts: Qt's fatal message ends it quietly.
void chooseDisplayPlatform(int argc, char **argv);

// Whether the platform that the environment selects starts, tried in a child process that
// gives up after `seconds`.
bool platformStarts(int argc, char **argv, unsigned seconds);
