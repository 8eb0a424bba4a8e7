// ovra-host commands that show the module's dialogs and take a picture of
// them: the settings dialog over a document, and the About box.
#pragma once

#include <string>

#include "host/document.h"
#include "host/module_loader.h"

namespace standin {

// Shows the filter's settings dialog over doc as a host does (parameters,
// prepare, start with the dialog asked for, finish); once the dialog is laid
// out and painted it is saved as a PNG to file and cancelled. Exit status:
// 0 when the picture was saved and the filter reported the cancel, else 1
// with a message on stderr.
int DialogScreenshot(const Module& module, const std::string& entry, Document doc, const std::string& file);

// Sends the about selector to the module's filters until one shows its About
// box, and saves that as a PNG to file.
int AboutScreenshot(const Module& module, const std::string& file);

}  // namespace standin
