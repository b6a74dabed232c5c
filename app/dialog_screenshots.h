#pragma once
// Pictures of the about box and of the console window, for checking their
// layout by eye (tovrin --screenshot-dialog about|console <file>).

#include <functional>
#include <iosfwd>
#include <string>

namespace dialog_screenshots {

// Whether `name` is one of the pictures taken here ("about", "console").
bool Handles(const std::string& name);

// Saves the picture as PNG; false when it could not be saved. `writeXml`
// writes what "Save Project..." writes (the console shows it).
bool Save(const std::string& name, const std::string& file,
          const std::function<void(std::ostream&)>& writeXml);

}  // namespace dialog_screenshots
