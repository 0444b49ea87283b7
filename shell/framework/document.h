#pragma once

#include <QObject>
#include <QString>

#include <vector>

#include "shell/framework/commands.h"

namespace weftloom::framework {

class DocTemplate;
class View;

// What a document's Serialize reads from or writes to. Only the path travels:
// nothing is opened or truncated before the document has settled the final
// path, which it reports back in writtenPath when storing.
struct Archive {
    enum class Mode { Load, Store };
    Mode mode = Mode::Load;
    QString path;
    QString writtenPath;
    bool IsStoring() const { return mode == Mode::Store; }
};

// The data side of a document/view pair: a title, a path, a modified flag and
// the views that show it. Created by its template; deletes itself (later, from
// the event loop) once its last view is gone. User-interface thread only.
class Document : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    Document();
    ~Document() override;

    const QString& Title() const { return title_; }
    virtual void SetTitle(const QString& title);
    const QString& PathName() const { return pathName_; }
    // Sets the path and, as a file's document is titled, the title (the file name).
    void SetPathName(const QString& path);

    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true);

    const std::vector<View*>& Views() const { return views_; }
    void AddView(View* view);
    void RemoveView(View* view);
    // Has every view but sender repaint itself.
    void UpdateAllViews(View* sender, int hint = 0);

    DocTemplate* Template() const { return template_; }
    void SetTemplate(DocTemplate* owner) { template_ = owner; }

    // The new-document step: an untitled, unmodified document. False stops the
    // creation.
    virtual bool OnNewDocument();
    // Reads path through Serialize; false (nothing kept) when it fails.
    bool OnOpenDocument(const QString& path);
    // Writes through Serialize to path (which the document may change, see
    // Archive); on success the document takes the written path and is no
    // longer modified. On failure it stays modified.
    bool OnSaveDocument(const QString& path);
    // Saves under a name the user chooses, with the chosen filter's extension
    // when the name has none; false when cancelled or failed. When the file
    // really written (SavePathFor) exists, asks before replacing it: a
    // read-only one with No as the default answer.
    bool DoSaveAs();
    // The file a save to path really writes; the base keeps path.
    virtual QString SavePathFor(const QString& path) const { return path; }
    // The file chooser's filters for Save As: the base offers the template's
    // filter, then every file.
    virtual QStringList SaveFilters() const;
    // Before the document closes: a modified document asks whether to save
    // (SaveQuestion). False when the user cancels (or the save fails): the
    // close stops.
    bool SaveModified();
    // The question SaveModified asks; the base: "Save changes to <title>?".
    virtual QString SaveQuestion() const;
    // Closes every view's frame; the document then goes.
    void OnCloseDocument();

    // Save As belongs to the document.
    bool OnCommand(int id) override;
    int CommandState(int id) const override;

  signals:
    void TitleChanged();
    void ModifiedChanged(bool modified);

  protected:
    // Loads or stores the document at archive.path; true on success.
    virtual bool Serialize(Archive& archive) = 0;

  private:
    QString title_;
    QString pathName_;
    bool modified_ = false;
    bool closing_ = false;
    std::vector<View*> views_;
    DocTemplate* template_ = nullptr;
};

}  // namespace weftloom::framework
