// The one Qt application object of the process.
#pragma once

class QApplication;

namespace ps {

// The process-wide application: the host's own when it already made one,
// otherwise made here on first use (argument vector {"Photoshop Host"}) and
// destroyed when the module is unloaded. Raises std::runtime_error when no
// display can be had or the host's application object cannot show widgets;
// a failed construction is tried again on the next call.
QApplication& Application();

// Destroys the application made here (what unloading the module does); an
// application the host made is left alone. Safe to call more than once.
void ReleaseApplication();

// The release runs at unload or exit. Qt makes some of its own globals
// lazily (input devices, font caches) and they go in the reverse order of
// their making, so the release is registered again after every dialog to
// run before any global that dialog made. Does nothing without an
// application of our own.
void KeepReleaseLast();

}  // namespace ps
