#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace weftloom::framework {

// A file chooser request: open an existing file or pick a path to save to.
// A save chooser does not ask about replacing a file: the caller knows which
// file a save really writes, and asks about that one.
struct FileRequest {
    bool save = false;
    QString caption;
    QString name;         // the file name offered first
    QString folder;       // where the chooser starts (see AskForFile)
    QStringList filters;  // "TGA Images (*.tga)", ...; the first is selected
};

// What the user chose: the path as given and the filter selected meanwhile.
struct FileChoice {
    FileChoice(QString chosenPath, QString chosenFilter = {})
        : path(std::move(chosenPath)), filter(std::move(chosenFilter)) {}
    QString path;
    QString filter;
};

// Asks the user for a file; nothing when cancelled. The chooser starts in the
// folder of the last file chosen, open or save, in this run or an earlier one
// (the profile keeps it), or request.folder while there is none; the responder
// sees the request with that folder. Tests answer instead through
// SetFileResponder. User-interface thread only.
std::optional<FileChoice> AskForFile(const FileRequest& request);
using FileResponder = std::function<std::optional<FileChoice>(const FileRequest&)>;
void SetFileResponder(FileResponder responder);

// path with the extension of filter ("PNG Images (*.png)": ".png") added when
// the file name has none; a filter without one ("All Files (*)") adds nothing.
QString WithFilterExtension(const QString& path, const QString& filter);

// Asks the user to pick one of items; its index, or -1 when cancelled.
int AskForChoice(const QString& caption, const QStringList& items);
using ChoiceResponder = std::function<int(const QString& caption, const QStringList& items)>;
void SetChoiceResponder(ChoiceResponder responder);

}  // namespace weftloom::framework
