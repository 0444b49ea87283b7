#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace weftloom::framework {

class ChildFrame;
class Document;
class View;

// Makes documents of one kind with their frames and views, and keeps the open
// ones. Its template string holds seven fields separated by line breaks:
// window title, document name, file-new name, filter name, filter extension,
// file-type id and file-type name. The resource id names its menu and icon.
// User-interface thread only.
class DocTemplate {
  public:
    using DocumentFactory = std::function<Document*()>;
    using ViewFactory = std::function<View*(Document*)>;
    using FrameFactory = std::function<ChildFrame*(View*)>;

    enum Field {
        kWindowTitle = 0,
        kDocName,
        kFileNewName,
        kFilterName,
        kFilterExt,
        kRegFileTypeId,
        kRegFileTypeName,
        kFieldCount
    };

    DocTemplate(int resourceId, const QString& templateString, DocumentFactory makeDocument,
                ViewFactory makeView, FrameFactory makeFrame);
    ~DocTemplate();
    DocTemplate(const DocTemplate&) = delete;
    DocTemplate& operator=(const DocTemplate&) = delete;

    int ResourceId() const { return resourceId_; }
    QString String(Field field) const { return fields_[static_cast<std::size_t>(field)]; }
    // The filter the file dialogs offer, e.g. "TGA Images (*.tga)".
    QString Filter() const;
    // Whether path ends with this template's extension (ignoring case).
    bool MatchesPath(const QString& path) const;

    // Opens path in a new document (an empty path: a new document) with a
    // frame and view, shown in the main frame. Null, with nothing created,
    // when the new-document step or the reading fails.
    Document* OpenDocumentFile(const QString& path);
    // A new document that fill gives its content (in place of reading a file),
    // then framed and shown as an opened one. Null, with nothing created, when
    // fill returns false.
    Document* CreateDocument(const std::function<bool(Document&)>& fill);
    // Another frame and view for an open document (the "New Window" command).
    ChildFrame* CreateNewFrame(Document* document);

    const std::vector<Document*>& Documents() const { return documents_; }
    void RemoveDocument(Document* document);

  private:
    int resourceId_;
    std::vector<QString> fields_;
    DocumentFactory makeDocument_;
    ViewFactory makeView_;
    FrameFactory makeFrame_;
    std::vector<Document*> documents_;
};

}  // namespace weftloom::framework
