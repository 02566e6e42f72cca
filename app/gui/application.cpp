#include "app/gui/application.h"

#include <QFileInfo>

#include <QCheckBox>

#include "app/gui/about_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/help_viewer.h"
#include "app/gui/options_form.h"
#include "app/gui/query_form.h"
#include "app/gui/ripper_form.h"
#include "app/gui/start_form.h"
#include "app/gui/tips_form.h"
#include "app/gui/wizard_shell.h"

namespace kiv::gui {

Application::Application(std::function<void()> endProcess, app::TipPicker pick)
    : context_{{}, {}, app::SettingsStore(std::string()), nullptr, std::move(endProcess), {}, OpenFolderOnDesktop} {
    help_ = std::make_unique<HelpViewer>();
    context_.help = help_.get();
    start_ = std::make_unique<TStartForm>(context_);
    converter_ = std::make_unique<TConverterForm>(context_);
    query_ = std::make_unique<TDialogForm>(context_);
    // The options' load selects the converter's folder and applies the
    // saved skin, so the converter comes first; the ripper reads the
    // options' controls, so it comes after them.
    options_ = std::make_unique<TOptionForm>(context_, skinEngine_, *start_, *converter_);
    ripper_ = std::make_unique<TRipperForm>(context_, *options_);
    about_ = std::make_unique<TAboutForm>(context_);
    tips_ = std::make_unique<TTipForm>(context_, *options_, std::move(pick));
    start_->setWindows(converter_.get(), ripper_.get(), options_.get(), about_.get());
    converter_->setWindows(query_.get(), options_.get(), about_.get());

    // A wizard that closes brings the start window back once a wizard was opened from it.
    auto backToStart = [this] {
        if (start_->wizardOpened()) start_->show();
    };
    converter_->setOnClose(backToStart);
    ripper_->setOnClose(backToStart);
}

Application::~Application() = default;

void Application::Start() {
    start_->show();
    if (options_->chkTip->isChecked()) tips_->show();
}

void Application::StartWithFiles(const QStringList& paths) {
    start_->btnConverterClick();
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) converter_->AddFolder(info.absoluteFilePath());
        else converter_->AddFile(info.absoluteFilePath());
    }
}

void Application::StartWithRipper(const QString& device) {
    ripper_->RequestDrive(device);
    start_->btnRipperClick();
}

}  // namespace kiv::gui
