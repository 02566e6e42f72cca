// Renders the program's windows to PNG files from the real windows:
//   ondalo-screenshots OUTDIR
// Run it on the offscreen platform with its own ONDALO_CONFIG_DIR, as
// scripts/screenshots.sh does, so nobody's settings are read or written.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QElapsedTimer>
#include <QPainter>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <vector>

#include "app/core/data_paths.h"
#include "app/gui/about_form.h"
#include "app/gui/batch_page.h"
#include "app/gui/convert_advance_form.h"
#include "app/gui/converter_form.h"
#include "app/gui/output_page.h"
#include "app/gui/application.h"
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

// A short tone as a 16-bit stereo PCM file, for the wizard's pictures.
void WriteTone(const QString& path, double seconds, double hz) {
    const std::uint32_t rate = 44100, frames = static_cast<std::uint32_t>(seconds * rate);
    std::vector<std::int16_t> pcm(frames * 2);
    for (std::uint32_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hz * i / rate));
    const std::uint32_t bytes = frames * 4;
    std::ofstream out(path.toStdString(), std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

// The conversion wizard's three pages and its advanced-mode dialog, with
// a few files converted for real.
bool SaveConverter(Application& app, const QString& out) {
    bool ok = true;
    const QString work = QDir::tempPath() + "/ondalo-screenshots-" + QString::number(QCoreApplication::applicationPid());
    QDir().mkpath(work + "/Music/Live");
    QDir().mkpath(work + "/Out");
    WriteTone(work + "/Music/Morning Song.wav", 2.0, 440);
    WriteTone(work + "/Music/Evening Song.wav", 3.0, 330);
    WriteTone(work + "/Music/Live/Encore.wav", 1.5, 550);
    TConverterForm& c = app.converter();
    c.show();
    c.SelectFolder(work + "/Music");
    c.AddFile(work + "/Music/Morning Song.wav");
    c.AddFile(work + "/Music/Evening Song.wav");
    c.AddFile(work + "/Music/Live/Encore.wav");
    Settle();
    ok &= Save(c, out + "/convert-step1.png");

    c.pgcConverter->setCurrentIndex(1);
    c.output->rdbCustom->setChecked(true);
    c.output->edtCustom->setText(work + "/Out");
    c.output->ChooseFormat(kiv::app::OutputFormat::Ogg);
    ok &= Save(c, out + "/convert-step2.png");

    c.btnAdvanceClick();
    if (TConvertAdvanceForm* advance = c.advanceForm()) {
        advance->ltvList->setCurrentItem(advance->ltvList->topLevelItem(1));
        advance->ltvListClick();
        advance->btnSelectClick();
        ok &= Save(*advance, out + "/convert-advanced.png");
        advance->reject();
    }
    c.output->ChooseFormat(kiv::app::OutputFormat::Ogg);

    c.pgcConverter->setCurrentIndex(2);
    c.page3->btnStart->click();
    for (int i = 0; i < 600 && !c.batch().Finished(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    ok &= Save(c, out + "/convert-step3.png");
    c.hide();
    QDir(work).removeRecursively();
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
    ok &= SaveConverter(app, out);
    app.help().ShowTopic("Welcome");
    ok &= Save(app.help(), out + "/help.png");
    app.help().hide();
    ok &= SaveRipperPages(app.ripper(), out);
    return ok ? 0 : 1;
}
