#pragma once

#include <QStringList>

#include <cstdint>

#include "engine/synthesis_settings.h"
#include "shell/framework/application.h"

namespace weftloom {

class CMainFrame;

// The application object of the desktop application: profile, the TGA (129)
// and JPEG (130) templates, the main frame, the file named on the command line
// and the synthesis settings. User-interface thread only.
class CWeftloomApp : public framework::Application {
    Q_OBJECT
  public:
    CWeftloomApp();
    ~CWeftloomApp() override;

    static CWeftloomApp* Instance();

    // Start-up: profile and recent files, templates, the main frame, then the
    // files named in arguments (the program's arguments after its name), each
    // in its own window. False only when the main frame cannot be made; the
    // application then ends. A file that cannot be opened is reported and
    // skipped.
    bool InitInstance(const QStringList& arguments);

    CMainFrame* MainFrame() const;
    // What the Synthesise dialog offers next; starts from the defaults at
    // every start and is never saved.
    SynthesisSettings settings;
    // Bytes a synthesis may use (the profile's Synthesis/MemoryLimitMiB, read
    // at start-up); 0, the default, means the machine's physical memory.
    std::uint64_t memoryLimit = 0;

    bool OnCommand(int id) override;
    int CommandState(int id) const override;
    // Every readable image first, then each format with all its endings.
    QStringList OpenFilters() const override;

  private:
    void OnAppAbout();
    // Paste as New: the clipboard's picture in a new document, as if opened.
    void OnPasteAsNew();

    bool clipboardHasPicture_ = false;  // followed as the clipboard changes
};

}  // namespace weftloom
