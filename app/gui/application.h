// The desktop program: every window, created at start in the program's
// order and kept for the life of the process.
#pragma once

#include <QString>

#include <memory>

#include "app/core/tips.h"
#include <QStringList>

#include "app/gui/app_context.h"
#include "app/gui/message_pump.h"
#include "app/gui/skin_engine.h"

namespace kiv::gui {

class HelpViewer;
class TAboutForm;
class TConverterForm;
class TDialogForm;
class TOptionForm;
class TRipperForm;
class TStartForm;
class TTipForm;

class Application {
public:
    // `endProcess` ends the program (the real one: EndProcessNow).
    explicit Application(std::function<void()> endProcess, app::TipPicker pick = app::ClockSeededPicker());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Shows the start window, and the tips when "Show Everyday Tips" is on.
    void Start();
    // Opens the ripping wizard at once (the desktop's audio-CD handler).
    void StartWithRipper(const QString& device);
    // Opens the conversion wizard with these files and folders in its list
    // (files opened with the program from a file manager).
    void StartWithFiles(const QStringList& paths);

    AppContext& context() { return context_; }
    QtSkinEngine& skinEngine() { return skinEngine_; }
    MessagePump& pump() { return pump_; }
    TStartForm& start() { return *start_; }
    TConverterForm& converter() { return *converter_; }
    TDialogForm& query() { return *query_; }
    TRipperForm& ripper() { return *ripper_; }
    TOptionForm& options() { return *options_; }
    TAboutForm& about() { return *about_; }
    TTipForm& tips() { return *tips_; }
    HelpViewer& help() { return *help_; }

private:
    MessagePump pump_;
    AppContext context_;
    QtSkinEngine skinEngine_;
    std::unique_ptr<HelpViewer> help_;
    std::unique_ptr<TStartForm> start_;
    std::unique_ptr<TConverterForm> converter_;
    std::unique_ptr<TDialogForm> query_;
    std::unique_ptr<TRipperForm> ripper_;
    std::unique_ptr<TOptionForm> options_;
    std::unique_ptr<TAboutForm> about_;
    std::unique_ptr<TTipForm> tips_;
};

}  // namespace kiv::gui
