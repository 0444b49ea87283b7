#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

namespace weftloom::framework {

inline constexpr const char kProfileOrganisation[] = "Local AppWizard-Generated Applications";

// The user's profile: where the application keeps what outlives a run, today
// only the list of recently used files (most recent first, at most
// kRecentFileCount). User-interface thread only.
class RecentFileList {
  public:
    explicit RecentFileList(int capacity);

    // Reads the list from the profile; paths that no longer name a file stay,
    // as the user may have them on a drive not mounted now.
    void Load();
    void Save() const;

    // Puts path first, dropping an equal entry further down and the oldest
    // entry when the list is full; saves at once.
    void Add(const QString& path);
    void Remove(int index);
    const QStringList& Files() const { return files_; }

  private:
    int capacity_;
    QStringList files_;
};

// Settings in the application's profile: the QCoreApplication's organisation
// (kProfileOrganisation once the application has set its registry key) and name.
QSettings ProfileSettings();

}  // namespace weftloom::framework
