#pragma once
// The Help command: the help file is looked up in the startup directory.
#include <QString>

class QTextBrowser;
class QWidget;

namespace edbapp {

inline constexpr const char* kHelpFileName = "QlrEmlExchange.chm";
// Where no help compiler was at hand, the same pages are shipped as one HTML file.
inline constexpr const char* kHelpHtmlName = "QlrEmlExchange.html";
inline constexpr const char* kHelpWindowName = "helpWindow";

// The help file to open: the compiled help in `startupDirectory`, else its HTML form there;
// empty when neither exists.
[[nodiscard]] QString FindHelpFile(const QString& startupDirectory);

// Opens the help file with the desktop's handler, or says that it is missing. When the desktop
// has no handler, the HTML pages are shown in the program's own help window (a child of
// `owner`, named kHelpWindowName, reused on the next Help); without them an error box names the
// file that could not be opened.
void OpenHelpFile(QWidget* owner, const QString& startupDirectory);

} // namespace edbapp
