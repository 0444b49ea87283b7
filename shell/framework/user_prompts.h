#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace weftloom::framework {

// A file chooser request: open an existing file or pick a path to save to.
struct FileRequest {
    bool save = false;
    QString caption;
    QString suggestedPath;  // folder and/or name offered first
    QStringList filters;    // "TGA Images (*.tga)", ...; the first is selected
};

// Asks the user for a file; nothing when cancelled. Tests answer instead
// through SetFileResponder. User-interface thread only.
std::optional<QString> AskForFile(const FileRequest& request);
using FileResponder = std::function<std::optional<QString>(const FileRequest&)>;
void SetFileResponder(FileResponder responder);

// Asks the user to pick one of items; its index, or -1 when cancelled.
int AskForChoice(const QString& caption, const QStringList& items);
using ChoiceResponder = std::function<int(const QString& caption, const QStringList& items)>;
void SetChoiceResponder(ChoiceResponder responder);

}  // namespace weftloom::framework
