#pragma once

#include <QStringList>

#include <cstdint>

#include "shell/framework/application.h"

namespace weftloom {

class CMainFrame;

// The eight values the Synthesise dialog offers and remembers during a run;
// they start from these values at every start and are never saved.
struct SynthesisSettings {
    std::int32_t levelAccuracy[3] = {0, 0, 0};  // "High" for Level 1, 2 and 3
    std::int32_t subsamplingMode = 2;
    std::int32_t subsampleCount = 2500;
    std::int32_t subsamplePercent = 10;
    std::int32_t minimumPixelCount = 2500;
    std::int32_t metric = 1;
};

// The application object of the desktop application: profile, the TGA (129)
// and JPEG (130) templates, the main frame, the file named on the command line
// and the synthesis settings. User-interface thread only.
class CWeftloomApp : public framework::Application {
    Q_OBJECT
  public:
    CWeftloomApp();
    ~CWeftloomApp() override;

    static CWeftloomApp* Instance();

    // Start-up: profile and recent files, templates, the main frame, the file
    // named in arguments (the program's arguments after its name). False when
    // the main frame cannot be made or the named file cannot be opened; the
    // application then ends.
    bool InitInstance(const QStringList& arguments);

    CMainFrame* MainFrame() const;
    SynthesisSettings settings;

    bool OnCommand(int id) override;
    int CommandState(int id) const override;

  private:
    void OnAppAbout();
};

}  // namespace weftloom
