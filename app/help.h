#pragma once
// The Help command: the help file is looked up in the startup directory and beside the program.
#include <QString>
#include <QStringList>

class QTextBrowser;
class QWidget;

namespace edbapp {

inline constexpr const char* kHelpFileName = "QlrEmlExchange.chm";
// Where no help compiler was at hand, the same pages are shipped as one HTML file.
inline constexpr const char* kHelpHtmlName = "QlrEmlExchange.html";
inline constexpr const char* kHelpWindowName = "helpWindow";

// Where Help looks, in order: the startup directory, the program's own folder, and the
// installation's documentation folder.
[[nodiscard]] QStringList HelpDirectories(const QString& startupDirectory);
// The help file to open: the compiled help in one of those folders, else its HTML form; empty
// when neither exists anywhere.
[[nodiscard]] QString FindHelpFile(const QString& startupDirectory);

// Opens the help file with the desktop's handler, or says that it is missing. When the desktop
// has no handler, the HTML pages are shown in the program's own help window (a child of
// `owner`, named kHelpWindowName, reused on the next Help); without them an error box names the
// file that could not be opened.
void OpenHelpFile(QWidget* owner, const QString& startupDirectory);

} // namespace edbapp
