#include "shell/framework/profile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "shell/framework/commands.h"

namespace weftloom::framework {

QSettings ProfileSettings() {
    return QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

RecentFileList::RecentFileList(int capacity) : capacity_(capacity) {}

void RecentFileList::Load() {
    QSettings settings = ProfileSettings();
    files_.clear();
    for (int i = 1; i <= capacity_; ++i) {
        const QString path =
            settings.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!path.isEmpty() && !files_.contains(path)) {
            files_.append(path);
        }
    }
}

void RecentFileList::Save() const {
    QSettings settings = ProfileSettings();
    settings.remove(QStringLiteral("Recent File List"));
    for (int i = 0; i < files_.size(); ++i) {
        settings.setValue(QStringLiteral("Recent File List/File%1").arg(i + 1), files_[i]);
    }
    settings.sync();
}

void RecentFileList::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files_.removeAll(absolute);
    files_.prepend(absolute);
    while (files_.size() > capacity_) {
        files_.removeLast();
    }
    Save();
}

void RecentFileList::Remove(int index) {
    if (index >= 0 && index < files_.size()) {
        files_.removeAt(index);
        Save();
    }
}

}  // namespace weftloom::framework
