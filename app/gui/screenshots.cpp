// Renders the program's windows to PNG files from the real windows:
//   ondalo-screenshots OUTDIR
// Run it on the offscreen platform with its own ONDALO_CONFIG_DIR, as
// scripts/screenshots.sh does, so nobody's settings are read or written.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPainter>
#include <QTabWidget>

#include <cstdio>

#include "app/core/data_paths.h"
#include "app/gui/about_form.h"
#include "app/gui/application.h"
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
    return ok ? 0 : 1;
}
