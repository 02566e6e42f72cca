// Renders the program's windows to PNG files from the real windows:
//   ondalo-screenshots OUTDIR
// Run it on the offscreen platform with its own ONDALO_CONFIG_DIR, as
// scripts/screenshots.sh does, so nobody's settings are read or written.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPainter>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

#include "app/core/data_paths.h"
#include "app/gui/about_form.h"
#include "app/gui/application.h"
#include "app/gui/batch_page.h"
#include "app/gui/output_page.h"
#include "app/gui/ripper_form.h"
#include "app/gui/help_viewer.h"
#include "app/gui/options_form.h"
#include "app/gui/query_form.h"
#include "app/gui/start_form.h"
#include "app/gui/tips_form.h"
#include "platform/com/class_registry.h"

namespace {

using namespace kiv::gui;

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool Save(QWidget& w, const QString& file) {
    Settle();
    bool ok = w.grab().save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

// The start window and the options dialog side by side, for one skin.
bool SaveSkinSheet(TStartForm& start, TOptionForm& options, const QString& file) {
    start.setEnabled(true);  // shown as it looks in use, not as the open dialog leaves it
    Settle();
    QPixmap a = start.grab();
    QPixmap b = options.grab();
    QPixmap sheet(a.width() + b.width() + 24, std::max(a.height(), b.height()) + 16);
    sheet.fill(QColor(128, 128, 128));
    QPainter p(&sheet);
    p.drawPixmap(8, 8, a);
    p.drawPixmap(a.width() + 16, 8, b);
    p.end();
    bool ok = sheet.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

// Processes events until `done` says so or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// The ripping wizard's three pages over the virtual disc the script set up:
// the tracks named by the lookup, the settings, and a finished rip of two
// tracks into a temporary folder.
bool SaveRipperPages(TRipperForm& ripper, const QString& out) {
    ripper.resize(860, 620);
    ripper.show();
    const bool named = WaitFor([&] { return ripper.panelText(0) == "Load CDDB data finished."; }, 20000);
    if (!named) std::fprintf(stderr, "ondalo-screenshots: the CDDB lookup did not finish (%s)\n",
                             qPrintable(ripper.panelText(0)));
    ripper.ltvList->topLevelItem(0)->setCheckState(0, Qt::Checked);
    if (ripper.ltvList->topLevelItemCount() > 2) ripper.ltvList->topLevelItem(2)->setCheckState(0, Qt::Checked);
    bool ok = named && Save(ripper, out + "/ripper-tracks.png");
    QTemporaryDir folder;
    ripper.btnNext1->click();
    ripper.page2->rdbCustom->setChecked(true);
    ripper.page2->edtCustom->setText(folder.path());
    ripper.page2->ChooseFormat(kiv::app::OutputFormat::Ogg);
    ok &= Save(ripper, out + "/ripper-settings.png");
    ripper.page2->btnNext->click();
    ripper.page3->btnStart->click();
    if (!WaitFor([&] { return ripper.batch().Finished(); }, 60000)) {
        std::fprintf(stderr, "ondalo-screenshots: the rip did not finish\n");
        return false;
    }
    ok &= Save(ripper, out + "/ripper-rip.png");
    ripper.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: ondalo-screenshots OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    kiv::CoInitialize(nullptr);
    Application app([] {}, [](int) { return 1; });
    bool ok = true;

    TStartForm& start = app.start();
    TOptionForm& options = app.options();
    start.show();
    ok &= Save(start, out + "/start-window.png");

    options.ShowDialog();
    options.resize(options.sizeHint().expandedTo(QSize(560, 460)));
    const char* pageFiles[] = {"options-conversion.png", "options-rip.png", "options-skins.png", "options-advanced.png"};
    for (int i = 0; i < options.pages->count(); ++i) {
        options.pages->setCurrentIndex(i);
        ok &= Save(options, out + "/" + pageFiles[i]);
    }
    options.pages->setCurrentIndex(0);

    for (int i = 0; i < options.ltbSkin->count(); ++i) {
        options.ltbSkin->setCurrentRow(i);
        options.btnPreviewClick();
        ok &= SaveSkinSheet(start, options, out + "/skin-" + options.ltbSkin->item(i)->text().toLower() + ".png");
    }
    options.reject();

    app.tips().show();
    ok &= Save(app.tips(), out + "/tips.png");
    app.tips().hide();
    app.about().show();
    ok &= Save(app.about(), out + "/about.png");
    app.about().hide();
    app.help().ShowTopic("Welcome");
    ok &= Save(app.help(), out + "/help.png");
    app.help().hide();
    ok &= SaveRipperPages(app.ripper(), out);
    return ok ? 0 : 1;
}
