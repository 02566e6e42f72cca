#include "app/gui/about_form.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

#include "app/gui/app_context.h"

namespace kiv::gui {

QString SystemLine() {
    // The kernel on a line of its own: its version is one long word that a
    // wrapped line would break in the middle.
    return QString("%1\n%2 %3")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion());
}

TAboutForm::TAboutForm(const AppContext& context) {
    setObjectName("TAboutForm");
    setWindowTitle("About");
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto* picture = new QLabel(this);
    picture->setObjectName("imgAbout");
    picture->setPixmap(QIcon(":/ondalo/logo.svg").pixmap(96, 96));
    picture->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel("<b>Ondalo</b><br>Audio converter and CD ripper", this);
    name->setAlignment(Qt::AlignCenter);
    labVersion = new QLabel("Version " + context.versionText, this);
    labVersion->setObjectName("labVersion");
    labVersion->setAlignment(Qt::AlignCenter);
    labSystem = new QLabel(SystemLine(), this);
    labSystem->setObjectName("labSystem");
    labSystem->setAlignment(Qt::AlignCenter);
    labSystem->setWordWrap(true);
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture);
    layout->addWidget(name);
    layout->addWidget(labVersion);
    layout->addWidget(labSystem);
    layout->addWidget(btnOK, 0, Qt::AlignCenter);
    setFixedWidth(360);
}

}  // namespace kiv::gui
